// korvatine: the show. The program's own headers (tools/pack/header.S) enter
// show_main directly: there is no C runtime start-up, nothing runs before it,
// and the process ends through exit_group. The portable edition (portable.cpp,
// SHOW_PORTABLE) is this same source as an ordinary program: the system loader
// resolves the library names, and its main enters show_main.
#include <SDL2/SDL.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <libspectre/spectre.h>
#include <opus/opus.h>
#include <stdio.h>

#include <array>
#include <cstdint>

#include "imports.hpp"
#include "linux_syscalls.hpp"
#include "postscript_ps_min.h"
#include SHOW_SHADER_HEADER

namespace show {
#ifndef SHOW_PORTABLE
static ImportTable import_table;
// The table's address lives in rbx for the whole run, so that every call
// through it is three bytes that repeat (the callee-saved register survives
// every library call, and no code here uses it otherwise).
register ImportTable* imports asm("rbx");
// Within this namespace every library function's name means a call through
// its slot in the table, also in the song and label code included below, whose
// own includes were all read above. Each name is an object, not a function, so
// that argument-dependent lookup cannot find the library's declaration instead.
template <auto slot> struct ImportedFunction {
    template <class... Arguments> [[gnu::always_inline]] auto operator()(Arguments... arguments) const {
        return (imports->*slot)(arguments...);
    }
};
#define IMPORT_SLOT(name) constexpr ImportedFunction<&ImportTable::name> name;
SHOW_IMPORTS(IMPORT_SLOT)
#undef IMPORT_SLOT
#endif

#include "label.hpp"
#include "song.hpp"

static SDL_Window* mainwindow;

// What keeps the show from starting: one line on standard error, status 1.
[[noreturn]] static void refuse(const char* what, const char* why = "", const char* more = "") {
    report(what, why, more);
    sys_exit_group(1);
}

// A start-up step SDL could not do.
[[noreturn]] static void fail(const char* what) {
    refuse(what, " failed: ", SDL_GetError());
}

[[noreturn]] static void quit() {
    SDL_DestroyWindow(mainwindow);
    sys_exit_group(0);
}

// The compiler's log of a shader that fails: the buffer is free until then.
static char shader_log[1 << 16];

static GLuint compile_shader() {
    const char* text = SHOW_SHADER_TEXT;
    GLuint p = glCreateShaderProgramv(GL_FRAGMENT_SHADER, 1, &text);
    // The program's log holds the shader's compile log; without a compiled
    // shader nothing is linked.
    GLint linked = 0;
    glGetProgramiv(p, GL_LINK_STATUS, &linked);
    if (!linked) {
        GLsizei written = 0;
        glGetProgramInfoLog(p, sizeof shader_log, &written, shader_log);
        sys_write(2, shader_log, written);
        SDL_DestroyWindow(mainwindow);
        sys_exit_group(1);
    }
    glUseProgram(p);
    return p;
}

// The song, whole, before anything is shown; afterwards the audio thread only reads it.
static std::int16_t song_samples[SONG_SAMPLE_COUNT];
static int audiotime; // the byte of song_samples delivered last

// Starting one byte in and playing big-endian, each value played is one sample's high
// byte over the next one's low byte (played_value): the song within 1/128 of full scale. It runs on
// SDL's audio thread, where rbx is not the import table: it calls no library function.
static void audio_callback(void*, Uint8* stream, int length) {
    const Uint8* song_bytes = reinterpret_cast<const Uint8*>(song_samples);
    for (int i = 0; i < length; ++i) {
        // The end of the song ends the show. The window is left alone: the main
        // thread may be drawing in it.
        if (++audiotime == static_cast<int>(sizeof song_samples)) sys_exit_group(0);
        stream[i] = song_bytes[audiotime];
    }
}

static SDL_AudioSpec desired = {.freq = PLAYBACK_RATE,
                                .format = AUDIO_S16MSB,
                                .channels = 1,
                                .silence = 0,
                                .samples = DEVICE_BUFFER_SAMPLES,
                                .padding = 0,
                                .size = 0,
                                .callback = audio_callback,
                                .userdata = nullptr};

#ifndef SHOW_PORTABLE
// The loader leaves the list of what it loaded in the debug entry of the
// program's dynamic section (_DYNAMIC, in the program's headers).
static const link_map* loaded_objects() {
    const Elf64_Dyn* entry = _DYNAMIC;
    while (entry->d_tag != DT_DEBUG)
        ++entry;
    return reinterpret_cast<const r_debug*>(entry->d_un.d_ptr)->r_map;
}
#endif

// Entered from _start in the program's headers.
extern "C" [[noreturn]] void show_main() {
#ifndef SHOW_PORTABLE
    imports = &import_table;
    if (!resolve_imports(*imports, loaded_objects())) refuse("a library is too old");
#endif
    // The song is synthesised here, before any window opens.
    synthesise_song(song_samples);

    // Without sound the show still plays; without a picture it cannot.
    // SDL3 (under sdl2-compat) fails here without a display, where SDL2 picks a
    // driver that draws nowhere.
    const char* no_display = "no display (set DISPLAY, or run it under xvfb-run)";
    if (SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_EVENTS) < 0 &&
        SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) < 0)
        refuse(no_display, ": ", SDL_GetError());
    // Without a display SDL falls back to drawing nowhere; the show needs a window.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver[0] == 'o' || (driver[0] == 'd' && driver[1] == 'u')) refuse(no_display);
    mainwindow = SDL_CreateWindow("", 0, 0, SHOW_WIDTH, SHOW_HEIGHT, SHOW_WINDOW_FLAGS);
    if (!mainwindow) fail("SDL_CreateWindow");
    if (!SDL_GL_CreateContext(mainwindow)) fail("SDL_GL_CreateContext");
    // The audio device opens here, paused. The clock ends the show too: when
    // the song would have ended without sound, and with sound a margin later,
    // in case the device stops calling back (a sound server that went away).
    Uint32 play_ms = SONG_PLAY_MS + LOST_SOUND_MARGIN_MS;
    if (SDL_OpenAudio(&desired, nullptr) < 0) {
        report("no sound, picture only: ", SDL_GetError());
        play_ms = SONG_PLAY_MS;
    }
    SDL_ShowCursor(0);
    GLuint p = compile_shader();
    build_label_texture(postscript_ps_min, postscript_ps_min_len);

    // The state of the frame loop, which runs until the process ends.
    Uint32 startTime = 0;
    SDL_Event event;

    for (;;) {
        if (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT || (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE))
                quit();
            continue;
        }
        if (!startTime) {
            startTime = SDL_GetTicks();
            SDL_PauseAudio(0);
        }
        if (SDL_GetTicks() - startTime >= play_ms) quit();
        float m = static_cast<int>(SDL_GetTicks() - startTime - TITLE_CARD_MS) / 1000.0;
        glUniform1f(glGetUniformLocation(p, "m"), m);
        glRecti(-1, -1, 1, 1);
        SDL_GL_SwapWindow(mainwindow);
    }
}
} // namespace show
