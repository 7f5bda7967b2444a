// The real program in a window under Xvfb: how it starts and how it ends.
#include <gtest/gtest.h>

#include <thread>

#include "show_harness.hpp"

namespace {

// No sound device is needed to look at the window.
const std::vector<std::string> QUIET = {"SDL_AUDIODRIVER=dummy"};

class ShowWindow : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(display.ok()) << "Xvfb did not start"; }

    std::vector<std::string> environment() const {
        std::vector<std::string> entries = QUIET;
        entries.push_back("DISPLAY=" + display.name());
        return entries;
    }

    VirtualDisplay display;
};

TEST_F(ShowWindow, EscapeAsSoonAsTheWindowAppearsEndsTheShowWithStatusZero) {
    ShowProcess show(built_program("korvatine_small"), environment());
    unsigned long window = show.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u) << "no window appeared";
    show.send_key(display.name(), window, "Escape");
    auto result = show.wait(5);
    ASSERT_TRUE(result) << "the show did not end on Escape";
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 0) << result->error_output;
}

TEST_F(ShowWindow, OtherInputChangesNothingUntilEscape) {
    ShowProcess show(built_program("korvatine_small"), environment());
    unsigned long window = show.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u);
    for (const char* key : {"a", "space", "Return", "q", "F4"})
        show.send_key(display.name(), window, key);
    EXPECT_FALSE(show.wait(1.5)) << "a key other than Escape ended the show";
    show.send_key(display.name(), window, "Escape");
    auto result = show.wait(5);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 0);
}

TEST_F(ShowWindow, ClosingTheWindowEndsTheShowWithStatusZero) {
    ShowProcess show(built_program("korvatine_small"), environment());
    unsigned long window = show.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let frames run first
    ASSERT_TRUE(show.request_close(display.name(), window));
    auto result = show.wait(5);
    ASSERT_TRUE(result) << "the show did not end when its window was closed";
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 0);
}

TEST(ShowStart, WithoutADisplayItSaysSoAndExitsWithStatusOne) {
    ShowProcess show(built_program("korvatine_small"),
                     {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_AUDIODRIVER=dummy"});
    auto result = show.wait(60);
    ASSERT_TRUE(result) << "the show kept running without a display";
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 1);
    EXPECT_NE(result->error_output.find("korvatine: no display"), std::string::npos) << result->error_output;
    EXPECT_NE(result->error_output.find("xvfb-run"), std::string::npos) << result->error_output;
}

TEST(ShowStart, AShaderThatFailsToCompilePrintsItsLogAndExitsWithStatusOne) {
    VirtualDisplay display;
    ASSERT_TRUE(display.ok());
    ShowProcess show(std::string(KORVATINE_TEST_BUILD_DIR) + "/korvatine_broken_shader",
                     {"DISPLAY=" + display.name(), "SDL_AUDIODRIVER=dummy"});
    auto result = show.wait(60);
    ASSERT_TRUE(result) << "the show kept running with a broken shader";
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 1);
    EXPECT_NE(result->error_output.find("no_such_name"), std::string::npos)
        << "the compile log did not reach standard error: " << result->error_output;
}

} // namespace
