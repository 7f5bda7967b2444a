// The show as a video file: every frame rendered offscreen and piped, with the
// song as it is played, into ffmpeg.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "song.hpp"

constexpr double TITLE_CARD_SECONDS = TITLE_CARD_MS / 1000.0; // m = show time - 2.080

struct VideoRequest {
    int width = 0;
    int height = 0;
    int fps = 60;
    double from = 0; // seconds of show time
    double to = 0;
    std::string out;
    // 0: constant quality (x264's rate factor 16); otherwise a constant bit
    // rate of this many kbit/s, padded where the picture needs fewer.
    int video_kbits = 0;
};

// Frame k of the whole show is shown at k / fps seconds; these are the ones in [from, to).
struct FrameRange {
    long first = 0;
    long count = 0;
};
FrameRange frames_in(const VideoRequest& request);

// The stream the audio device plays: byte 1 of the little-endian song onwards,
// read as big-endian 16-bit samples.
std::vector<std::int16_t> song_as_played(const std::int16_t* samples, long count);

// What stands in the way of writing a video to out (no ffmpeg, an unwritable
// path), or nothing; checked before any work is done.
std::string video_output_problem(const std::string& out);

// Renders one frame at m: RGBA, top row first, width x height.
using FrameRenderer = std::function<std::vector<std::uint8_t>(float m)>;

// Writes the video; prints progress and errors on standard error. Returns the
// process exit status: 0 on success, and no output file is left on failure.
int write_video(const VideoRequest& request, const std::vector<std::int16_t>& played_song,
                const FrameRenderer& render);
