// korvatine_preview under Xvfb: the picture at a chosen moment against the capture
// tool's frame, a step of one bar, the shader reloaded on save, and bad input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "offscreen.hpp"
#include "preview.hpp"
#include "show_harness.hpp"
#include "video.hpp"

namespace {

const std::string PREVIEW = built_program("tools/preview/korvatine_preview");
const std::string CAPTURE = built_program("tools/korvatine_capture");
// m = 20.92, the camera's bar 20; one bar later is bar 21, after a cut.
constexpr double FROM = 23.0;

std::string temporary_path(const std::string& name) {
    return testing::TempDir() + "korvatine_preview_" + std::to_string(getpid()) + "_" + name;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Writes the file the way editors often save: a new file renamed over the old one.
void save(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    std::ofstream(partial, std::ios::binary) << text;
    std::rename(partial.c_str(), path.c_str());
}

bool wait_until(const std::function<bool()>& condition, double timeout_seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The capture tool's frame of the build at show time t, RGB, top row first. The tool
// starts at once, so that it runs beside the preview.
class CapturedFrame {
  public:
    CapturedFrame(const std::string& build, double show_time)
        : path_(temporary_path(build + "_" + std::to_string(show_time) + ".png")),
          capture_({CAPTURE, "frame", "--build", build, "--time", shader_time(show_time), "--out", path_},
                   {}) {}
    ~CapturedFrame() { unlink(path_.c_str()); }

    WindowPixels pixels() {
        auto result = capture_.wait(60);
        EXPECT_TRUE(result && result->exited && result->status == 0) << (result ? result->error_output : "");
        WindowPixels frame;
        std::vector<std::uint8_t> rgba;
        int channels = 0;
        std::string error;
        EXPECT_TRUE(read_png(path_, &rgba, &frame.width, &frame.height, &channels, &error)) << error;
        for (size_t i = 0; i + 3 < rgba.size(); i += 4)
            frame.rgb.insert(frame.rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
        return frame;
    }

  private:
    static std::string shader_time(double show_time) {
        char m[64];
        std::snprintf(m, sizeof m, "%.17g", show_time - TITLE_CARD_SECONDS);
        return m;
    }
    std::string path_;
    ShowProcess capture_;
};

// The readable source and the shipped text differ by at most one step in a few values.
void expect_same_picture(const WindowPixels& shown, const WindowPixels& expected, const std::string& where) {
    ASSERT_EQ(shown.width, expected.width) << where;
    ASSERT_EQ(shown.height, expected.height) << where;
    ASSERT_EQ(shown.rgb.size(), expected.rgb.size()) << where;
    size_t differing = 0;
    int largest = 0;
    for (size_t i = 0; i < shown.rgb.size(); ++i) {
        const int difference = std::abs(shown.rgb[i] - expected.rgb[i]);
        differing += difference != 0;
        largest = std::max(largest, difference);
    }
    EXPECT_LE(largest, 1) << where;
    EXPECT_LE(differing, shown.rgb.size() / 1000) << where;
}

class PreviewWindow : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(display.ok()) << "Xvfb did not start"; }

    std::vector<std::string> environment() const {
        return {"DISPLAY=" + display.name(), "SDL_AUDIODRIVER=dummy"};
    }
    bool title_shows(ShowProcess& preview, unsigned long window, const std::vector<std::string>& parts) {
        return wait_until(
            [&] {
                const std::string title = window_title(display.name(), window);
                for (const std::string& part : parts)
                    if (title.find(part) == std::string::npos) return false;
                return true;
            },
            30);
    }
    void expect_escape_ends_it(ShowProcess& preview, unsigned long window) {
        preview.send_key(display.name(), window, "Escape");
        auto result = preview.wait(10);
        ASSERT_TRUE(result) << "the preview did not end on Escape";
        EXPECT_TRUE(result->exited);
        EXPECT_EQ(result->status, 0) << result->error_output;
    }

    VirtualDisplay display;
};

TEST_F(PreviewWindow, PausedAtAMomentItShowsTheCapturedFrameAndRightStepsOneBar) {
    CapturedFrame at_start("small", FROM), one_bar_later("small", FROM + CAMERA_BAR_SECONDS);
    ShowProcess preview({PREVIEW, "--build", "small", "--from", "23", "--paused"}, environment());
    const unsigned long window = preview.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u) << preview.error_output();
    ASSERT_TRUE(title_shows(preview, window, {"t 23.000 s", "m 20.920", "bar 20", "paused"}))
        << window_title(display.name(), window) << preview.error_output();
    const WindowPixels expected_at_start = at_start.pixels();
    expect_same_picture(window_pixels(display.name(), window), expected_at_start, "at the start");

    preview.send_key(display.name(), window, "Right");
    ASSERT_TRUE(title_shows(preview, window, {"t 24.045 s", "bar 21", "paused"}))
        << window_title(display.name(), window);
    const WindowPixels expected_one_bar_later = one_bar_later.pixels();
    EXPECT_NE(expected_one_bar_later.rgb, expected_at_start.rgb);
    expect_same_picture(window_pixels(display.name(), window), expected_one_bar_later, "one bar later");
    expect_escape_ends_it(preview, window);
}

// The full build's picture is computed at 1920 x 1080 and shown scaled to the screen.
using PreviewWindowSlow = PreviewWindow;

TEST_F(PreviewWindowSlow, TheFullBuildDrawsTheCapturedFrameAtItsOwnSize) {
    CapturedFrame expected("full", FROM);
    ShowProcess preview({PREVIEW, "--build", "full", "--from", "23", "--paused"}, environment());
    const unsigned long window = preview.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u) << preview.error_output();
    ASSERT_TRUE(title_shows(preview, window, {"t 23.000 s", "paused"}))
        << window_title(display.name(), window);
    expect_same_picture(window_pixels(display.name(), window), expected.pixels(), "full build");
    expect_escape_ends_it(preview, window);
}

TEST_F(PreviewWindow, ASavedShaderIsCompiledWithTheBuildsConstantsAndAFailedOneKeepsThePicture) {
    const std::string shader = temporary_path("shader.frag");
    save(shader, read_file(KORVATINE_SOURCE_DIR "/assets/shader.frag"));
    ShowProcess preview({PREVIEW, "--build", "small", "--from", "23", "--paused", "--shader", shader},
                        environment());
    const unsigned long window = preview.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u) << preview.error_output();
    ASSERT_TRUE(title_shows(preview, window, {"t 23.000 s", "paused"}))
        << window_title(display.name(), window);
    const WindowPixels good = window_pixels(display.name(), window);

    unlink(shader.c_str());
    ASSERT_TRUE(title_shows(preview, window, {"SHADER FAILED"})) << preview.error_output();
    EXPECT_NE(preview.error_output().find("cannot be read"), std::string::npos) << preview.error_output();
    save(shader, "#version 420\nout vec4 f;\nvoid main() { f = vec4(no_such_name); }\n");
    ASSERT_TRUE(
        wait_until([&] { return preview.error_output().find("no_such_name") != std::string::npos; }, 30))
        << "the compile log did not reach standard error: " << preview.error_output();
    EXPECT_TRUE(preview.running());
    EXPECT_EQ(window_pixels(display.name(), window).rgb, good.rgb) << "the last good picture was not kept";

    // It only compiles with the small build's constants in, and paints the window red.
    save(shader, "#version 420\nout vec4 f;\nvoid main() { f = vec4(PIXEL_SCALE / 320.0, 0, 0, 1); }\n");
    ASSERT_TRUE(wait_until(
        [&] {
            const WindowPixels now = window_pixels(display.name(), window);
            return now.rgb.size() > 3 && now.rgb[0] == 255 && now.rgb[1] == 0 && now.rgb[2] == 0;
        },
        30))
        << "the saved shader never reached the window: " << preview.error_output();
    WindowPixels red = window_pixels(display.name(), window);
    EXPECT_EQ(std::count(red.rgb.begin(), red.rgb.end(), 255), red.width * red.height);
    EXPECT_EQ(window_title(display.name(), window).find("SHADER FAILED"), std::string::npos);
    expect_escape_ends_it(preview, window);
    unlink(shader.c_str());
}

// The text the preview compiles is the one the build writes out for each window.
TEST(PreviewShader, TheReadableSourceGetsTheConstantsAsTheBuildWritesThem) {
    const std::string source = read_file(KORVATINE_SOURCE_DIR "/assets/shader.frag");
    for (const char* build : {"small", "full"})
        EXPECT_EQ(with_build_constants(source, shader_constants(build)),
                  read_file(std::string(KORVATINE_GENERATED_DIR) + "/shader_" + build + ".frag"))
            << build;
}

TEST(PreviewStart, BadInputIsOneLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> commands = {
        {"--build", "small", "--loop"},
        {"--build", "medium"},
        {"--build", "small", "--from", "76.8"},
        {"--build", "small", "--from", "-0.5"},
        {"--build", "small", "--from", "soon"},
        {"--build", "small", "--shader", "/no/such/shader.frag"},
        {"--from", "3"},
    };
    for (std::vector<std::string> command : commands) {
        command.insert(command.begin(), PREVIEW);
        ShowProcess preview(command, {"DISPLAY=", "SDL_AUDIODRIVER=dummy"});
        auto result = preview.wait(10);
        ASSERT_TRUE(result) << command[2];
        EXPECT_TRUE(result->exited);
        EXPECT_EQ(result->status, 2) << command[2];
        const std::string& said = result->error_output;
        EXPECT_EQ(said.rfind("korvatine_preview: ", 0), 0u) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
}

} // namespace
