// The capture tool's video of the show: what ffprobe sees in it, its first
// frame against the single-frame capture, and its failures.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "offscreen.hpp"
#include "show_harness.hpp"

namespace {

namespace fs = std::filesystem;

const std::string CAPTURE = std::string(KORVATINE_BUILD_DIR) + "/tools/korvatine_capture";

std::string output_of(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    if (pipe) pclose(pipe);
    return output;
}

std::string probe(const std::string& file, const std::string& stream, const std::string& entries) {
    std::string text = output_of("ffprobe -v error -count_frames -select_streams " + stream +
                                 " -show_entries stream=" + entries +
                                 " -of default=noprint_wrappers=1:nokey=1 '" + file + "'");
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

ShowExit capture(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {}) {
    std::vector<std::string> command = {CAPTURE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ShowProcess process(command, environment);
    auto result = process.wait(600);
    return result ? *result : ShowExit{};
}

class Video : public testing::Test {
  protected:
    void SetUp() override {
        directory = fs::path(testing::TempDir()) / ("video_" + std::to_string(getpid()));
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }
    fs::path directory;
};

TEST_F(Video, OneSecondOfTheSmallBuildHasItsSizeFramesSoundAndPicture) {
    const std::string video = directory / "second.mp4";
    // Show time 5 to 6 s at 10 frames per second: the first frame is m = 5 - 2.08.
    ShowExit result =
        capture({"video", "--build", "small", "--fps", "10", "--from", "5", "--to", "6", "--out", video});
    ASSERT_TRUE(result.exited && result.status == 0) << result.error_output;

    EXPECT_EQ(probe(video, "v:0", "width,height"), "640\n360");
    EXPECT_EQ(probe(video, "v:0", "nb_read_frames"), "10");
    EXPECT_EQ(probe(video, "a:0", "sample_rate"), "44100");
    EXPECT_NEAR(std::stod(probe(video, "a:0", "duration")), 1.0, 0.03);

    const std::string first =
        output_of("ffmpeg -v error -i '" + video + "' -frames:v 1 -f rawvideo -pix_fmt rgba -");
    ASSERT_EQ(first.size(), 640u * 360 * 4);
    const std::string same = directory / "same.png", next = directory / "next.png";
    ASSERT_EQ(capture({"frame", "--build", "small", "--time", "2.92", "--out", same}).status, 0);
    ASSERT_EQ(capture({"frame", "--build", "small", "--time", "3.02", "--out", next}).status, 0);
    // The video is lossy: its first frame must be far closer to the frame at
    // its own time than to the one a tenth of a second later.
    auto mean_difference = [&](const std::string& png) {
        std::vector<std::uint8_t> pixels;
        int width, height, channels;
        std::string error;
        EXPECT_TRUE(read_png(png, &pixels, &width, &height, &channels, &error)) << error;
        double total = 0;
        for (size_t i = 0; i < pixels.size(); i += 4)
            for (int c = 0; c < 3; ++c)
                total += std::abs(int(pixels[i + c]) - int(static_cast<std::uint8_t>(first[i + c])));
        return total / (pixels.size() / 4 * 3);
    };
    const double own = mean_difference(same), later = mean_difference(next);
    EXPECT_LT(own, 1.5);
    EXPECT_LT(own * 2, later);
}

// What parties ask for is a floor on the rate: the small build at 10 frames per
// second needs far less than 6 Mbit/s, so each whole second is padded up to it.
TEST_F(Video, AConstantBitRateHoldsEverySecondAtThatRate) {
    const std::string video = directory / "constant.mp4";
    ShowExit result = capture({"video", "--build", "small", "--fps", "10", "--from", "5", "--to", "8",
                               "--bitrate", "6000", "--out", video});
    ASSERT_TRUE(result.exited && result.status == 0) << result.error_output;
    EXPECT_EQ(probe(video, "v:0", "codec_name"), "h264");
    std::vector<double> bits_per_second(3, 0);
    std::istringstream packets(
        output_of("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,size "
                  "-of csv=p=0 '" +
                  video + "'"));
    double time = 0, bytes = 0;
    char comma;
    while (packets >> time >> comma >> bytes)
        if (time >= 0 && time < 3) bits_per_second[int(time)] += 8 * bytes;
    // The encoder's buffer starts empty, so the first second may fall short.
    for (int second = 1; second < 3; ++second)
        EXPECT_NEAR(bits_per_second[second], 6e6, 0.05 * 6e6) << "second " << second;
    EXPECT_GT(bits_per_second[0], 0.8 * 6e6);
    ShowExit refused = capture({"video", "--build", "small", "--bitrate", "6M", "--out", video + ".2"});
    EXPECT_EQ(refused.status, 2) << refused.error_output;
}

TEST_F(Video, FailuresSayWhatFailedExitNonZeroAndLeaveNoFile) {
    const std::string video = directory / "failed.mp4";
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"range past the end", {"--from", "70", "--to", "80", "--out", video}, {}, "not within the show"},
        {"range before the start", {"--from", "-1", "--to", "1", "--out", video}, {}, "not within the show"},
        {"empty range", {"--from", "3", "--to", "3", "--out", video}, {}, "not within the show"},
        {"unwritable output", {"--to", "1", "--out", "/nonexistent/folder/out.mp4"}, {}, "cannot write"},
        {"no ffmpeg", {"--to", "1", "--out", video}, {"PATH=/nonexistent"}, "ffmpeg was not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments = {"video", "--build", "small", "--fps", "10"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ShowExit result = capture(arguments, c.environment);
        EXPECT_TRUE(result.exited);
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.error_output.find(c.message), std::string::npos) << result.error_output;
        EXPECT_FALSE(fs::exists(video));
        EXPECT_FALSE(fs::exists(video + ".partial"));
    }
}

TEST_F(Video, AnInterruptedCaptureLeavesNoFileBehind) {
    const std::string video = directory / "interrupted.mp4";
    ShowProcess process({CAPTURE, "video", "--build", "small", "--fps", "30", "--out", video}, {});
    // Wait until frames are being written, then interrupt.
    for (int i = 0; i < 300 && !fs::exists(video + ".partial"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(process.running());
    kill(process.pid(), SIGINT);
    auto result = process.wait(60);
    ASSERT_TRUE(result);
    EXPECT_NE(result->status, 0);
    EXPECT_NE(result->error_output.find("interrupted"), std::string::npos) << result->error_output;
    EXPECT_FALSE(fs::exists(video));
    EXPECT_FALSE(fs::exists(video + ".partial"));
}

} // namespace
