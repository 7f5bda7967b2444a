// korvatine_capture: renders what the show shows, without a display.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "label.hpp"
#include "offscreen.hpp"
#include "postscript_ps_min.h"
#include "song.hpp"
#include "tools/command_line.hpp"
#include "video.hpp"

namespace {

std::string usage() {
    const std::string build = "--build " + show_build_names();
    std::string text = "usage:\n";
    text += "  korvatine_capture frame " + build + "|--size WxH [--rays N] --time M --out FILE.png\n";
    text += "  korvatine_capture page --out FILE.png|FILE.gray\n";
    text += "  korvatine_capture song --out FILE.wav\n";
    text += "  korvatine_capture video " + build + " [--fps N] --out FILE.mp4 [--from S] [--to S]\n";
    return text + "                          [--bitrate KBITS]\n";
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "korvatine_capture: %s\n%s", problem.c_str(), usage().c_str());
    return 2;
}

bool parse_number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

// Opens the offscreen context, builds the show's program for the build and the
// label texture on unit 0, as the show does.
struct ShowRenderer {
    OffscreenGl gl;
    GLuint program = 0;
    std::string error;

    explicit ShowRenderer(const ShowBuild& build) {
        if (!gl.ok()) {
            error = gl.error();
            return;
        }
        std::string log;
        program = build_fragment_program(build.shader_text, &log);
        if (!program) {
            error = "the shader did not compile:\n" + log;
            return;
        }
        glUseProgram(program);
        build_label_texture(postscript_ps_min, postscript_ps_min_len);
    }
};

// The label sheet exactly as the show rasterises it: 4096 x 4096, 8-bit grey,
// the raster's red channel (the one the underside print reads).
int command_page(const CommandLine& options) {
    if (!options.has("out")) return usage_error("page needs --out");
    const unsigned char* raster = render_label_page(postscript_ps_min, postscript_ps_min_len);
    if (!raster) return 1;
    std::vector<std::uint8_t> red(static_cast<size_t>(LABEL_PAGE_PIXELS) * LABEL_PAGE_PIXELS);
    for (size_t i = 0; i < red.size(); ++i)
        red[i] = raster[i * 4 + 2];
    // FILE.gray is the raster's grey bytes alone, top row first, for tools that
    // read no PNG (the browser edition's build, which uploads them as red,
    // green and blue alike): the page must hold greys only.
    const std::string out = options.value("out");
    if (out.size() > 5 && out.compare(out.size() - 5, 5, ".gray") == 0) {
        for (size_t i = 0; i < red.size(); ++i) {
            if (raster[i * 4] != red[i] || raster[i * 4 + 1] != red[i]) {
                std::fprintf(stderr, "korvatine_capture: the page holds colours other than greys\n");
                return 1;
            }
        }
        FILE* file = std::fopen(out.c_str(), "wb");
        const bool written = file && std::fwrite(red.data(), 1, red.size(), file) == red.size();
        if (file && std::fclose(file) == 0 && written) return 0;
        std::fprintf(stderr, "korvatine_capture: cannot write %s\n", out.c_str());
        return 1;
    }
    std::string error;
    if (!write_png(out, red.data(), LABEL_PAGE_PIXELS, LABEL_PAGE_PIXELS, 1, &error)) {
        std::fprintf(stderr, "korvatine_capture: cannot write %s: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

// A frame of a build, or of the show at any size (the design at that size).
int command_frame(const CommandLine& options) {
    if (options.has("build") == options.has("size") || !options.has("time") || !options.has("out"))
        return usage_error("frame needs --build or --size, --time and --out");
    const ShowBuild* build = find_show_build(options.value("build"));
    std::string sized_text;
    ShowBuild sized{"sized", 0, 0, nullptr};
    if (options.has("size")) {
        int rays = 1;
        char end = 0;
        if (std::sscanf(options.value("size").c_str(), "%dx%d%c", &sized.width, &sized.height, &end) != 2 ||
            sized.width < 2 || sized.height < 2 || sized.width > 8192 || sized.height > 8192)
            return usage_error("--size takes WIDTHxHEIGHT, each from 2 to 8192");
        if (options.has("rays") &&
            (std::sscanf(options.value("rays").c_str(), "%d%c", &rays, &end) != 1 || rays < 1 || rays > 16))
            return usage_error("--rays takes a whole number from 1 to 16");
        sized_text = shader_text_at_size(sized.width, sized.height, rays);
        sized.shader_text = sized_text.c_str();
        build = &sized;
    } else if (options.has("rays")) {
        return usage_error("--rays goes with --size (a build has its own)");
    }
    if (!build) return usage_error("--build is " + show_build_names());
    double m;
    if (!parse_number(options.value("time"), &m)) return usage_error("--time takes a number of seconds");

    ShowRenderer renderer(*build);
    if (!renderer.error.empty()) {
        std::fprintf(stderr, "korvatine_capture: %s\n", renderer.error.c_str());
        return 1;
    }
    std::vector<std::uint8_t> pixels = render_show_frame(renderer.program, *build, static_cast<float>(m));
    std::string error;
    if (!write_png(options.value("out"), pixels.data(), build->width, build->height, 4, &error)) {
        std::fprintf(stderr, "korvatine_capture: cannot write %s: %s\n", options.value("out").c_str(),
                     error.c_str());
        return 1;
    }
    return 0;
}

int command_video(const CommandLine& options) {
    if (!options.has("build") || !options.has("out")) return usage_error("video needs --build and --out");
    const ShowBuild* build = find_show_build(options.value("build"));
    if (!build) return usage_error("--build is " + show_build_names());
    double fps = 60, from = 0, to = SONG_SECONDS;
    if (options.has("fps") &&
        (!parse_number(options.value("fps"), &fps) || fps < 1 || fps > 240 || fps != int(fps)))
        return usage_error("--fps takes a whole number of frames per second from 1 to 240");
    if ((options.has("from") && !parse_number(options.value("from"), &from)) ||
        (options.has("to") && !parse_number(options.value("to"), &to)))
        return usage_error("--from and --to take seconds of show time");
    double kbits = 0;
    if (options.has("bitrate") && (!parse_number(options.value("bitrate"), &kbits) || kbits < 100 ||
                                   kbits > 200000 || kbits != int(kbits)))
        return usage_error("--bitrate takes a whole number of kbit/s from 100 to 200000");
    if (from < 0 || to > SONG_SECONDS || from >= to) {
        std::fprintf(stderr, "korvatine_capture: the range %g to %g s is not within the show (0 to %g s)\n",
                     from, to, SONG_SECONDS);
        return 2;
    }
    if (std::string problem = video_output_problem(options.value("out")); !problem.empty()) {
        std::fprintf(stderr, "korvatine_capture: %s\n", problem.c_str());
        return 1;
    }

    ShowRenderer renderer(*build);
    if (!renderer.error.empty()) {
        std::fprintf(stderr, "korvatine_capture: %s\n", renderer.error.c_str());
        return 1;
    }
    static std::int16_t song[SONG_SAMPLE_COUNT];
    synthesise_song(song);
    VideoRequest request{build->width, build->height, int(fps), from, to, options.value("out"), int(kbits)};
    return write_video(request, song_as_played(song, SONG_SAMPLE_COUNT),
                       [&](float m) { return render_show_frame(renderer.program, *build, m); });
}

// The song exactly as synthesised, as 16-bit mono PCM at the rate it is played at.
int command_song(const CommandLine& options) {
    if (!options.has("out")) return usage_error("song needs --out");
    static std::int16_t song_samples[SONG_SAMPLE_COUNT];
    synthesise_song(song_samples);

    std::string wav;
    auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wav.push_back(static_cast<char>(value >> (8 * i))); // little-endian
    };
    const std::uint32_t data_bytes = SONG_SAMPLE_COUNT * 2;
    wav += "RIFF";
    put(36 + data_bytes, 4);
    wav += "WAVEfmt ";
    put(16, 4);                // format chunk size
    put(1, 2);                 // integer PCM
    put(1, 2);                 // mono
    put(PLAYBACK_RATE, 4);     // samples per second
    put(PLAYBACK_RATE * 2, 4); // bytes per second
    put(2, 2);                 // bytes per sample frame
    put(16, 2);                // bits per sample
    wav += "data";
    put(data_bytes, 4);
    for (std::int16_t sample : song_samples)
        put(static_cast<std::uint16_t>(sample), 2);

    const std::string path = options.value("out");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file && std::fwrite(wav.data(), 1, wav.size(), file) == wav.size();
    if (file && std::fclose(file) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "korvatine_capture: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}

// Each command with the options it takes (all with a value).
struct Command {
    const char* name;
    std::vector<ToolOption> options;
    int (*run)(const CommandLine&);
};
const Command COMMANDS[] = {
    {"frame",
     {{"build", true}, {"size", true}, {"rays", true}, {"time", true}, {"out", true}},
     command_frame},
    {"page", {{"out", true}}, command_page},
    {"song", {{"out", true}}, command_song},
    {"video",
     {{"build", true}, {"fps", true}, {"out", true}, {"from", true}, {"to", true}, {"bitrate", true}},
     command_video},
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    for (const Command& command : COMMANDS) {
        if (argv[1] != std::string(command.name)) continue;
        const CommandLine options(argc - 1, argv + 1, command.options);
        if (!options.problem().empty()) return usage_error(options.problem());
        return command.run(options);
    }
    return usage_error("unknown command '" + std::string(argv[1]) + "'");
}
