// What the preview and its tests agree on: where in the song a moment starts, and
// how a readable shader text gets the build's constants.
#pragma once

#include <cmath>
#include <string>

#include "preview_shader_constants.h"
#include "song.hpp"

// The shader's bar, which the camera cuts on.
constexpr double CAMERA_BAR_SECONDS = 1.0448;

// The first byte the show's device receives t seconds of show time after its first
// frame: it starts at byte 1 and takes two bytes per sample at the playing rate.
inline long first_song_byte(double show_time) {
    return 1 + 2 * std::lround(show_time * PLAYBACK_RATE);
}

// The build's constants for a build name, or null.
inline const char* shader_constants(const std::string& build) {
    struct BuildConstants {
        const char* build;
        const char* constants;
    };
    static const BuildConstants builds[] = {SHADER_CONSTANTS_ROWS};
    for (const BuildConstants& row : builds)
        if (build == row.build) return row.constants;
    return nullptr;
}

// The text as the build writes it into its readable shader: the constants go in
// right after the version line.
inline std::string with_build_constants(const std::string& text, const char* constants) {
    const std::string::size_type line_end = text.find('\n');
    if (line_end == std::string::npos) return text + "\n" + constants;
    return text.substr(0, line_end + 1) + constants + text.substr(line_end + 1);
}
