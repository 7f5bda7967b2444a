// korvatine_preview: the show in a window from any moment, picture and sound
// together, with keys to pause and step and the readable shader reloaded on save.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "label.hpp"
#include "offscreen.hpp"
#include "postscript_ps_min.h"
#include "preview.hpp"
#include "song.hpp"
#include "tools/command_line.hpp"
#include "video.hpp"

namespace {

struct Options {
    const ShowBuild* build = nullptr;
    const char* constants = nullptr;
    double from = 0;
    bool paused = false;
    bool report_reload = false;
    std::string shader_path = KORVATINE_SOURCE_DIR "/assets/shader.frag";
};

// One line on standard error and status 2, for anything wrong with the command line.
[[noreturn]] void bad_input(const std::string& problem) {
    std::fprintf(stderr, "korvatine_preview: %s\n", problem.c_str());
    std::exit(2);
}

std::string usage() {
    return "(usage: korvatine_preview --build " + show_build_names() +
           " [--from S] [--paused] [--shader FILE] [--report-reload])";
}

Options parse_options(int argc, char** argv) {
    const CommandLine command_line(
        argc, argv,
        {{"build", true}, {"from", true}, {"shader", true}, {"paused", false}, {"report-reload", false}});
    if (!command_line.problem().empty()) bad_input(command_line.problem() + " " + usage());
    if (!command_line.has("build")) bad_input("--build is required " + usage());
    Options options;
    const std::string build = command_line.value("build");
    options.build = find_show_build(build);
    options.constants = shader_constants(build);
    if (!options.build || !options.constants)
        bad_input("--build is " + show_build_names() + ", not '" + build + "'");
    if (command_line.has("from")) {
        const std::string text = command_line.value("from");
        char* end = nullptr;
        options.from = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() ||
            !(options.from >= 0 && options.from < SONG_SECONDS)) {
            char range[64];
            std::snprintf(range, sizeof range, "[0, %g)", SONG_SECONDS);
            bad_input("--from takes seconds of show time within " + std::string(range) + ", not '" + text +
                      "'");
        }
    }
    if (command_line.has("shader")) options.shader_path = command_line.value("shader");
    options.paused = command_line.has("paused");
    options.report_reload = command_line.has("report-reload");
    return options;
}

std::optional<std::string> read_text(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return std::nullopt;
    return text.str();
}

double realtime_ms() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Watches one path by its status: a save in place changes the time and size, a
// save by replacing the file changes the inode, and a deleted file is a change too.
class WatchedFile {
  public:
    explicit WatchedFile(std::string path) : path_(std::move(path)), seen_(look()) {}

    // True once for each change since the last call.
    bool changed() {
        Status now = look();
        if (now == seen_) return false;
        seen_ = now;
        return true;
    }
    bool exists() const { return seen_.exists; }
    // When the file was last written, in milliseconds of the real-time clock.
    double written_ms() const { return seen_.seconds * 1e3 + seen_.nanoseconds / 1e6; }
    const std::string& path() const { return path_; }

  private:
    struct Status {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        time_t seconds = 0;
        long nanoseconds = 0;
        bool operator==(const Status&) const = default;
    };
    Status look() const {
        struct stat info;
        if (stat(path_.c_str(), &info) != 0) return {};
        return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    }

    std::string path_;
    Status seen_;
};

// The song, delivered as the show's device gets it, from any byte.
struct SongStream {
    const unsigned char* bytes = nullptr;
    long next_byte = 1; // guarded by the device's lock
};

void deliver_song(void* userdata, Uint8* stream, int length) {
    SongStream& song = *static_cast<SongStream*>(userdata);
    for (int i = 0; i < length; ++i)
        stream[i] = song.next_byte < SONG_BYTES ? song.bytes[song.next_byte++] : 0;
}

class Preview {
  public:
    Preview(const Options& options, SDL_Window* window, SDL_AudioDeviceID device, SongStream* song)
        : options_(options), build_(*options.build), window_(window), device_(device), song_(song),
          shader_(options.shader_path), framebuffer_(build_.width, build_.height, GL_RGBA8),
          show_time_(options.from) {
        build_label_texture(postscript_ps_min, postscript_ps_min_len);
        if (options.report_reload)
            std::fprintf(stderr, "korvatine_preview: renderer: %s\n", glGetString(GL_RENDERER));
        if (!load_shader(0)) {
            std::fprintf(stderr, "korvatine_preview: drawing the build's own shader until %s compiles\n",
                         shader_.path().c_str());
            std::string log;
            program_ = build_fragment_program(build_.shader_text, &log);
        }
    }

    // Runs until Escape or the window is closed.
    void run() {
        if (!options_.paused) play();
        for (;;) {
            SDL_Event event;
            while (SDL_PollEvent(&event))
                if (!handle(event)) return;
            if (shader_.changed()) load_shader(shader_.written_ms());
            if (playing_) {
                show_time_ = anchor_time_ + seconds_since(anchor_counter_);
                if (show_time_ >= SONG_SECONDS) hold_the_end();
                picture_stale_ = true;
            }
            if (picture_stale_) {
                draw();
                present();
            } else if (needs_present_) {
                present();
            } else {
                SDL_WaitEventTimeout(nullptr, 10); // paused: look at the file again soon
            }
        }
    }

  private:
    // False when the preview should end.
    bool handle(const SDL_Event& event) {
        if (event.type == SDL_QUIT) return false;
        if (event.type == SDL_WINDOWEVENT) {
            needs_present_ |= event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                              event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED;
            return true;
        }
        if (event.type != SDL_KEYDOWN) return true;
        switch (event.key.keysym.sym) {
        case SDLK_ESCAPE:
            return false;
        case SDLK_SPACE:
            if (playing_)
                pause();
            else {
                if (show_time_ >= SONG_SECONDS) seek(0);
                play();
            }
            break;
        case SDLK_LEFT:
            seek(show_time_ - CAMERA_BAR_SECONDS);
            break;
        case SDLK_RIGHT:
            seek(show_time_ + CAMERA_BAR_SECONDS);
            break;
        case SDLK_PAGEUP:
            seek(show_time_ - 10);
            break;
        case SDLK_PAGEDOWN:
            seek(show_time_ + 10);
            break;
        case SDLK_HOME:
            seek(0);
            break;
        default:
            break;
        }
        return true;
    }

    // The picture's clock while playing is the show's own: seconds since the sound was
    // started at the picture's moment. The device's position would move in whole
    // buffers of 23 ms, and the show itself keeps its time this way.
    void play() {
        if (show_time_ >= SONG_SECONDS) return;
        if (device_) {
            SDL_LockAudioDevice(device_);
            song_->next_byte = first_song_byte(show_time_);
            SDL_UnlockAudioDevice(device_);
            SDL_PauseAudioDevice(device_, 0);
        }
        anchor_time_ = show_time_;
        anchor_counter_ = SDL_GetPerformanceCounter();
        playing_ = true;
        picture_stale_ = true;
    }

    void pause() {
        if (device_) SDL_PauseAudioDevice(device_, 1);
        if (playing_) show_time_ = std::min(anchor_time_ + seconds_since(anchor_counter_), SONG_SECONDS);
        playing_ = false;
        picture_stale_ = true;
    }

    void hold_the_end() {
        pause();
        show_time_ = SONG_SECONDS;
    }

    void seek(double show_time) {
        const bool was_playing = playing_;
        pause();
        show_time_ = std::clamp(show_time, 0.0, SONG_SECONDS);
        if (was_playing) play();
    }

    // Compiles the watched file with the build's constants; on failure the last good
    // program stays. changed_ms is when the file changed, 0 at start.
    bool load_shader(double changed_ms) {
        const double started = realtime_ms();
        std::optional<std::string> text = read_text(shader_.path());
        if (!text) {
            std::fprintf(stderr, "korvatine_preview: %s cannot be read; keeping the last good shader\n",
                         shader_.path().c_str());
            shader_failed_ = true;
            needs_present_ = true; // the title says so
            return false;
        }
        std::string log;
        GLuint program =
            build_fragment_program(with_build_constants(*text, options_.constants).c_str(), &log);
        if (!program) {
            std::fprintf(stderr, "korvatine_preview: %s does not compile; keeping the last good shader:\n%s",
                         shader_.path().c_str(), log.c_str());
            shader_failed_ = true;
            needs_present_ = true;
            return false;
        }
        // The shader object goes with its program.
        GLuint shader = 0;
        GLsizei count = 0;
        glGetAttachedShaders(program, 1, &count, &shader);
        if (count) glDeleteShader(shader);
        if (program_) glDeleteProgram(program_);
        program_ = program;
        shader_failed_ = false;
        picture_stale_ = true;
        if (changed_ms > 0) {
            reload_changed_ms_ = changed_ms;
            reload_compile_ms_ = realtime_ms() - started;
        }
        return true;
    }

    void draw() {
        const Uint64 start = SDL_GetPerformanceCounter();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_.id());
        glViewport(0, 0, build_.width, build_.height);
        framebuffer_.draw(program_, static_cast<float>(show_time_ - TITLE_CARD_SECONDS));
        frame_ms_ = seconds_since(start) * 1e3;
        picture_stale_ = false;
    }

    // Copies the picture into the window, scaled down to fit with black around it when
    // the window is another size.
    void present() {
        int width = 0, height = 0;
        SDL_GL_GetDrawableSize(window_, &width, &height);
        const double scale = std::min(double(width) / build_.width, double(height) / build_.height);
        const int shown_width = int(build_.width * scale), shown_height = int(build_.height * scale);
        const int left = (width - shown_width) / 2, bottom = (height - shown_height) / 2;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_.id());
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        const bool exact = shown_width == build_.width && shown_height == build_.height;
        if (!exact || width != shown_width || height != shown_height) {
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        glBlitFramebuffer(0, 0, build_.width, build_.height, left, bottom, left + shown_width,
                          bottom + shown_height, GL_COLOR_BUFFER_BIT, exact ? GL_NEAREST : GL_LINEAR);
        SDL_GL_SwapWindow(window_);
        glFinish();
        needs_present_ = false;
        SDL_SetWindowTitle(window_, title().c_str());
        if (reload_changed_ms_ > 0) {
            if (options_.report_reload)
                std::fprintf(stderr,
                             "korvatine_preview: reload: on screen %.0f ms after the save (compile %.0f ms, "
                             "frame %.0f ms)\n",
                             realtime_ms() - reload_changed_ms_, reload_compile_ms_, frame_ms_);
            reload_changed_ms_ = 0;
        }
    }

    std::string title() const {
        const double m = static_cast<float>(show_time_ - TITLE_CARD_SECONDS);
        char text[256];
        int length = std::snprintf(text, sizeof text, "korvatine_preview %s | t %.3f s | m %.3f | ",
                                   build_.name, show_time_, m);
        if (m >= 0)
            length +=
                std::snprintf(text + length, sizeof text - length, "bar %d", int(m / CAMERA_BAR_SECONDS));
        else
            length += std::snprintf(text + length, sizeof text - length, "title card");
        length += std::snprintf(text + length, sizeof text - length, " | %.0f ms", frame_ms_);
        if (show_time_ >= SONG_SECONDS)
            length += std::snprintf(text + length, sizeof text - length, " | end");
        else if (!playing_)
            length += std::snprintf(text + length, sizeof text - length, " | paused");
        if (shader_failed_)
            std::snprintf(text + length, sizeof text - length, " | SHADER FAILED, last good shown");
        return text;
    }

    static double seconds_since(Uint64 counter) {
        return double(SDL_GetPerformanceCounter() - counter) / SDL_GetPerformanceFrequency();
    }

    const Options& options_;
    const ShowBuild& build_;
    SDL_Window* window_;
    SDL_AudioDeviceID device_;
    SongStream* song_;
    WatchedFile shader_;
    Framebuffer framebuffer_;
    GLuint program_ = 0;
    bool shader_failed_ = false;
    double show_time_;
    bool playing_ = false;
    double anchor_time_ = 0;
    Uint64 anchor_counter_ = 0;
    bool picture_stale_ = true;
    bool needs_present_ = true;
    double frame_ms_ = 0;
    double reload_changed_ms_ = 0, reload_compile_ms_ = 0;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "korvatine_preview: %s failed: %s\n", what, SDL_GetError());
    std::exit(1);
}

// The window: the build's size, or scaled down to fit the screen.
SDL_Window* open_window(const ShowBuild& build) {
    SDL_Rect screen{0, 0, build.width, build.height};
    SDL_GetDisplayUsableBounds(0, &screen);
    const double scale = std::min({1.0, double(screen.w) / build.width, double(screen.h) / build.height});
    return SDL_CreateWindow("korvatine_preview", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                            int(build.width * scale), int(build.height * scale),
                            SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse_options(argc, argv);
    if (!read_text(options.shader_path)) bad_input("cannot read the shader " + options.shader_path);

    static std::int16_t song_samples[SONG_SAMPLE_COUNT];
    synthesise_song(song_samples);
    SongStream song{reinterpret_cast<const unsigned char*>(song_samples)};

    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) < 0) fail("SDL_Init");
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || !std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy")) {
        std::fprintf(stderr, "korvatine_preview: no display to open the window on (set DISPLAY, or run it "
                             "under xvfb-run)\n");
        return 1;
    }
    SDL_Window* window = open_window(*options.build);
    if (!window) fail("SDL_CreateWindow");
    if (!SDL_GL_CreateContext(window)) fail("SDL_GL_CreateContext");

    // The show's device format; without one the picture plays alone.
    SDL_AudioSpec desired{};
    desired.freq = PLAYBACK_RATE;
    desired.format = AUDIO_S16MSB;
    desired.channels = 1;
    desired.samples = 1024;
    desired.callback = deliver_song;
    desired.userdata = &song;
    SDL_AudioDeviceID device = 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0)
        device = SDL_OpenAudioDevice(nullptr, 0, &desired, nullptr, 0);
    if (!device)
        std::fprintf(stderr, "korvatine_preview: no sound, the picture plays alone: %s\n", SDL_GetError());

    {
        Preview preview(options, window, device, &song);
        preview.run();
    }
    if (device) SDL_CloseAudioDevice(device);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
