// The real program playing its song under Xvfb, through SDL's disk audio driver,
// which writes to a file exactly the bytes the callback delivers, in requests of
// 2048 bytes, paced in real time. While the device is open but paused it writes
// whole requests of zeros, and it buffers its writes: when the process ends from
// the callback, the last 2048 or 4096 bytes it was given never reach the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "preview.hpp"
#include "show_harness.hpp"
#include "song.hpp"

namespace {

constexpr long REQUEST_BYTES = 2048;
// The callback starts at byte 1 and never hands back the request in which the song ends.
constexpr long BYTES_DELIVERED = (SONG_BYTES - 1) / REQUEST_BYTES * REQUEST_BYTES;

const std::vector<unsigned char>& song_bytes() {
    static const std::vector<unsigned char> bytes = [] {
        static std::int16_t samples[SONG_SAMPLE_COUNT];
        synthesise_song(samples);
        const auto* first = reinterpret_cast<const unsigned char*>(samples);
        return std::vector<unsigned char>(first, first + SONG_BYTES);
    }();
    return bytes;
}

std::vector<unsigned char> read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

// SDL2's disk driver writes the callback's bytes as they are. SDL3's (under sdl2-compat)
// converts them to its device's format first and says so on standard error: signed 16-bit
// little-endian stereo, each value twice with its bytes swapped. Read back, both give the
// bytes the callback handed over; a stereo file whose channels differ gives none.
std::vector<unsigned char> delivered_bytes(const std::string& path, const std::string& driver_said) {
    std::vector<unsigned char> file = read_file(path);
    if (driver_said.find("format=S16LE channels=2") == std::string::npos) return file;
    std::vector<unsigned char> bytes;
    for (std::size_t k = 0; k + 4 <= file.size(); k += 4) {
        if (file[k] != file[k + 2] || file[k + 1] != file[k + 3]) return {};
        bytes.push_back(file[k + 1]);
        bytes.push_back(file[k]);
    }
    return bytes;
}

std::string temporary_path(const std::string& name) {
    return testing::TempDir() + "korvatine_" + std::to_string(getpid()) + "_" + name;
}

// What the device wrote: a run of zero requests while paused, then song bytes from the
// first one delivered (1 for the show) on.
struct Capture {
    long paused_bytes = -1; // -1: the file does not line up with the song
    long song_bytes = 0;
};

Capture line_up_with_song(const std::vector<unsigned char>& file, long first_byte = 1) {
    const std::vector<unsigned char>& song = song_bytes();
    long file_first = 0, song_first = first_byte;
    while (file_first < long(file.size()) && !file[file_first])
        ++file_first;
    while (!song[song_first])
        ++song_first;
    Capture capture;
    if (file_first == long(file.size())) return capture; // nothing but silence
    const long paused = file_first - (song_first - first_byte);
    if (paused < 0 || paused % REQUEST_BYTES) return capture;
    capture.paused_bytes = paused;
    capture.song_bytes = long(file.size()) - paused;
    return capture;
}

class SongPlayback : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok()) << "Xvfb did not start";
        song_bytes(); // synthesised before any show is started
    }
    void TearDown() override {
        unlink(audio_file.c_str());
        rmdir(runtime_dir.c_str());
    }

    // The display, and a session's runtime folder: without one SDL3's Wayland probe
    // complains on standard error before it falls back to X11.
    std::vector<std::string> desktop() const {
        return {"DISPLAY=" + display.name(), "XDG_RUNTIME_DIR=" + runtime_dir};
    }
    std::vector<std::string> disk_audio() const {
        std::vector<std::string> environment = desktop();
        environment.insert(environment.end(), {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio_file});
        return environment;
    }

    VirtualDisplay display;
    const std::string audio_file = temporary_path("audio.raw");
    const std::string runtime_dir = [] {
        std::string folder = temporary_path("runtime");
        mkdir(folder.c_str(), 0700);
        return folder;
    }();
};

using SongPlaybackSlow = SongPlayback;

// The packed program, and the portable edition with its decoder linked in.
class SongPlaybackSlowEachProgram : public SongPlayback, public testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(Programs, SongPlaybackSlowEachProgram,
                         testing::Values("korvatine_small", "portable/korvatine_small"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index ? "portable" : "packed");
                         });

TEST_P(SongPlaybackSlowEachProgram, TheDeviceGetsTheWholeSongFromByteOneAndTheShowEndsWithIt) {
    ShowProcess show(built_program(GetParam()), disk_audio());
    ASSERT_NE(show.wait_for_window(display.name(), 30), 0u) << "no window appeared";
    const double window_seconds = show.seconds_since_launch();
    auto result = show.wait(SONG_SECONDS + 60);
    ASSERT_TRUE(result) << "the show did not end by itself when the song ended";
    EXPECT_TRUE(result->exited) << "ended by signal " << result->status;
    EXPECT_EQ(result->status, 0) << result->error_output;
    // The first frame comes after the window; the disk driver waits a whole 23 ms for
    // each request of 23.2 ms, so it runs about 1% fast.
    const double played = result->seconds - window_seconds;
    EXPECT_GT(played, SONG_SECONDS - 1.5);
    EXPECT_LT(played, SONG_SECONDS + 20.0);

    const std::vector<unsigned char> file = delivered_bytes(audio_file, result->error_output);
    const Capture capture = line_up_with_song(file);
    ASSERT_GE(capture.paused_bytes, 0) << "the delivered bytes do not start at byte 1 of the song";
    EXPECT_GE(capture.song_bytes, BYTES_DELIVERED - 2 * REQUEST_BYTES) << "the song stopped early";
    EXPECT_LE(capture.song_bytes, BYTES_DELIVERED);
    const std::vector<unsigned char>& song = song_bytes();
    for (long i = 0; i < capture.song_bytes; ++i)
        ASSERT_EQ(file[capture.paused_bytes + i], song[1 + i])
            << "delivered byte " << i << " is not byte " << 1 + i << " of the song";
}

TEST_F(SongPlaybackSlow, WithoutAnAudioDeviceThePictureStillEndsWhenTheSongWould) {
    std::vector<std::string> environment = desktop();
    environment.push_back("SDL_AUDIODRIVER=no_such_audio_driver");
    ShowProcess show(built_program("korvatine_small"), environment);
    ASSERT_NE(show.wait_for_window(display.name(), 30), 0u) << "no window appeared";
    const double window_seconds = show.seconds_since_launch();
    auto result = show.wait(SONG_SECONDS + 60);
    ASSERT_TRUE(result) << "the silent show did not end by itself";
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 0);
    const double played = result->seconds - window_seconds;
    EXPECT_GT(played, SONG_SECONDS - 0.1);
    EXPECT_LT(played, SONG_SECONDS + 20.0);
    const std::string& said = result->error_output;
    EXPECT_EQ(said.rfind("korvatine: no sound", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(SongPlayback, EscapeInTheMiddleOfTheSongEndsTheShowAtOnce) {
    ShowProcess show(built_program("korvatine_small"), disk_audio());
    unsigned long window = show.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u) << "no window appeared";
    // Wait until the song plays (well past its first sound), then some more.
    const double deadline = show.seconds_since_launch() + 60;
    auto delivered = [&] { return delivered_bytes(audio_file, show.error_output()); };
    while (line_up_with_song(delivered()).paused_bytes < 0 && show.seconds_since_launch() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GE(line_up_with_song(delivered()).paused_bytes, 0) << "the song never started";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_TRUE(show.running()) << "the show ended before Escape";

    const double pressed = show.seconds_since_launch();
    show.send_key(display.name(), window, "Escape");
    auto result = show.wait(5);
    ASSERT_TRUE(result) << "the show did not end on Escape";
    EXPECT_TRUE(result->exited);
    EXPECT_EQ(result->status, 0) << result->error_output;
    EXPECT_LT(result->seconds - pressed, 2.0);
    // What played up to there was the song.
    const std::vector<unsigned char> file = delivered_bytes(audio_file, result->error_output);
    const Capture capture = line_up_with_song(file);
    ASSERT_GE(capture.paused_bytes, 0);
    EXPECT_GT(capture.song_bytes, 2 * PLAYBACK_RATE); // more than a second's worth
    EXPECT_LT(capture.song_bytes, BYTES_DELIVERED / 2);
    EXPECT_TRUE(std::equal(file.begin() + capture.paused_bytes, file.end(), song_bytes().begin() + 1));
}

// The preview started at a moment: the device gets the song from that moment's byte.
TEST_F(SongPlayback, ThePreviewStartedAtAMomentPlaysTheSongFromThatMomentsByte) {
    const long first_byte = first_song_byte(30.25);
    ASSERT_EQ(first_byte, 1 + 2 * 1334025); // 30.25 s at 44100 Hz
    ShowProcess preview(
        {built_program("tools/preview/korvatine_preview"), "--build", "small", "--from", "30.25"},
        disk_audio());
    unsigned long window = preview.wait_for_window(display.name(), 30);
    ASSERT_NE(window, 0u) << "no window appeared";
    const double deadline = preview.seconds_since_launch() + 60;
    while (line_up_with_song(delivered_bytes(audio_file, preview.error_output()), first_byte).song_bytes <
               2 * PLAYBACK_RATE &&
           preview.seconds_since_launch() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    preview.send_key(display.name(), window, "Escape");
    auto result = preview.wait(10);
    ASSERT_TRUE(result) << "the preview did not end on Escape";
    EXPECT_EQ(result->status, 0) << result->error_output;

    const std::vector<unsigned char> file = delivered_bytes(audio_file, result->error_output);
    const Capture capture = line_up_with_song(file, first_byte);
    ASSERT_GE(capture.paused_bytes, 0) << "the delivered bytes do not start at byte " << first_byte;
    EXPECT_GT(capture.song_bytes, 2 * PLAYBACK_RATE); // more than a second's worth
    EXPECT_TRUE(
        std::equal(file.begin() + capture.paused_bytes, file.end(), song_bytes().begin() + first_byte));
}

} // namespace
