#!/usr/bin/env python3
"""The doctor's probes (scripts/doctor): each loads what the show loads, as the
show loads it, and prints what it found as key=value lines.

  probes.py libraries NAME...   each library loaded by name: found PATH, or missing WHY
  probes.py opus                the decoder's version string
  probes.py sdl                 the audio device, opened with the show's own settings, the
                                display, and a hidden window's OpenGL context
  probes.py memfd               a program run from an in-memory file, as the packed programs run

It needs no build: the show's audio settings are read from its source beside it.
"""
import ctypes
import errno
import os
import pathlib
import re
import sys


TOP = pathlib.Path(__file__).resolve().parent.parent.parent
# SDL's numbers for the sample formats the show may name (SDL_audio.h).
SDL_AUDIO_FORMATS = {"AUDIO_U8": 0x0008, "AUDIO_S8": 0x8008, "AUDIO_U16LSB": 0x0010, "AUDIO_S16LSB": 0x8010,
                     "AUDIO_U16MSB": 0x1010, "AUDIO_S16MSB": 0x9010, "AUDIO_S32LSB": 0x8020,
                     "AUDIO_S32MSB": 0x9020, "AUDIO_F32LSB": 0x8120, "AUDIO_F32MSB": 0x9120}


def say(key, value):
    print(f"{key}={value}", flush=True)


def library_path(handle):
    # dlinfo(RTLD_DI_LINKMAP): the link map's second field is the loaded file's name.
    libc = ctypes.CDLL(None)
    link_map = ctypes.POINTER(ctypes.c_void_p)()
    if libc.dlinfo(ctypes.c_void_p(handle), 2, ctypes.byref(link_map)) != 0:
        return "?"
    name = ctypes.cast(link_map[1], ctypes.c_char_p).value
    return os.path.realpath(name.decode()) if name else "?"


def libraries(names):
    for name in names:
        try:
            library = ctypes.CDLL(name)
            say(name, "found " + library_path(library._handle))
        except OSError as error:
            say(name, "missing " + str(error))


def opus():
    library = ctypes.CDLL("libopus.so.0")
    library.opus_get_version_string.restype = ctypes.c_char_p
    say("version", library.opus_get_version_string().decode())


class AudioSpec(ctypes.Structure):
    _fields_ = [("freq", ctypes.c_int), ("format", ctypes.c_uint16), ("channels", ctypes.c_uint8),
                ("silence", ctypes.c_uint8), ("samples", ctypes.c_uint16), ("padding", ctypes.c_uint16),
                ("size", ctypes.c_uint32), ("callback", ctypes.c_void_p), ("userdata", ctypes.c_void_p)]


def show_audio_settings():
    """What the show asks SDL for: the fields of its SDL_AudioSpec `desired` in
    korvatine.cpp, with the constants it names from song.hpp."""
    constants = dict(re.findall(r"constexpr int (\w+) = (\d+);", (TOP / "song.hpp").read_text()))
    spec = re.search(r"SDL_AudioSpec desired = \{(.*?)\};", (TOP / "korvatine.cpp").read_text(), re.S)
    fields = dict(re.findall(r"\.(\w+) = (\w+)", spec.group(1))) if spec else {}
    settings = {}
    for name in ("freq", "format", "channels", "samples"):
        word = fields.get(name, "")
        value = SDL_AUDIO_FORMATS.get(word) or constants.get(word, word)
        if not str(value).isdigit():
            raise LookupError(f"korvatine.cpp's SDL_AudioSpec desired has no .{name} the doctor knows ({word or 'none'})")
        settings[name] = int(value)
    return settings


def sdl():
    sdl = ctypes.CDLL("libSDL2-2.0.so.0")
    sdl.SDL_GetError.restype = ctypes.c_char_p
    sdl.SDL_GetCurrentVideoDriver.restype = ctypes.c_char_p
    sdl.SDL_GetCurrentAudioDriver.restype = ctypes.c_char_p
    sdl.SDL_CreateWindow.restype = ctypes.c_void_p
    sdl.SDL_CreateWindow.argtypes = [ctypes.c_char_p] + [ctypes.c_int] * 4 + [ctypes.c_uint32]
    sdl.SDL_GL_CreateContext.restype = ctypes.c_void_p
    sdl.SDL_GL_CreateContext.argtypes = [ctypes.c_void_p]
    sdl.SDL_GL_GetProcAddress.restype = ctypes.c_void_p
    sdl.SDL_GL_GetProcAddress.argtypes = [ctypes.c_char_p]
    error = lambda: sdl.SDL_GetError().decode(errors="replace")

    # The audio device first, opened as the show opens it.
    try:
        spec = AudioSpec(**show_audio_settings())
    except (OSError, LookupError) as problem:
        say("audio", f"unread {problem}")
    else:
        if sdl.SDL_InitSubSystem(0x10) < 0 or sdl.SDL_OpenAudio(ctypes.byref(spec), None) < 0:
            say("audio", "none " + error())
        else:
            say("audio", "ok " + sdl.SDL_GetCurrentAudioDriver().decode())
            sdl.SDL_CloseAudio()

    if sdl.SDL_InitSubSystem(0x20) < 0:
        say("display", "none " + error())
        return
    driver = sdl.SDL_GetCurrentVideoDriver().decode()
    if driver in ("offscreen", "dummy", "evdev", "KMSDRM"):
        say("display", "none SDL found no window system and chose its " + driver + " driver")
        return
    say("display", "ok " + driver)
    # A hidden window with the context SDL makes by default, as the show's.
    window = sdl.SDL_CreateWindow(b"korvatine doctor", 0, 0, 64, 64, 0x2 | 0x8)
    if not window or not sdl.SDL_GL_CreateContext(window):
        say("gl", "none " + error())
        return
    get_string = ctypes.CFUNCTYPE(ctypes.c_char_p, ctypes.c_uint)(sdl.SDL_GL_GetProcAddress(b"glGetString"))
    get_integer = ctypes.CFUNCTYPE(None, ctypes.c_uint, ctypes.POINTER(ctypes.c_int))(
        sdl.SDL_GL_GetProcAddress(b"glGetIntegerv"))
    text = lambda name: (get_string(name) or b"").decode(errors="replace")
    profile = ctypes.c_int(0)
    get_integer(0x9126, ctypes.byref(profile))  # GL_CONTEXT_PROFILE_MASK
    say("gl", "ok")
    say("gl_version", text(0x1F02))
    say("gl_glsl", text(0x8B8C))
    say("gl_renderer", text(0x1F01))
    say("gl_profile_mask", profile.value)


def memfd():
    # A copy of /bin/true in an anonymous in-memory file, run through execveat
    # with AT_EMPTY_PATH (what os.execve on a descriptor does), as the packed
    # programs run what they unpack. Like them it asks for an executable file
    # (MFD_EXEC, 0x10), and asks without where the kernel does not know the flag.
    try:
        try:
            descriptor = os.memfd_create("korvatine-doctor", 0x10)
        except OSError as error:
            if error.errno != errno.EINVAL:
                raise
            descriptor = os.memfd_create("korvatine-doctor", 0)
    except OSError as error:
        say("memfd", "refused memfd_create: " + str(error))
        return
    with open("/bin/true", "rb") as program:
        os.write(descriptor, program.read())
    child = os.fork()
    if child == 0:
        try:
            os.execve(descriptor, ["true"], {})
        except OSError as error:
            os.write(1, f"memfd=refused execveat: {error}\n".encode())
            os._exit(127)
    _, status = os.waitpid(child, 0)
    if os.waitstatus_to_exitcode(status) == 0:
        say("memfd", "ok")
    elif os.waitstatus_to_exitcode(status) != 127:
        say("memfd", f"refused the program ended with status {os.waitstatus_to_exitcode(status)}")


def main():
    probes = {"libraries": lambda: libraries(sys.argv[2:]), "opus": opus, "sdl": sdl, "memfd": memfd}
    if len(sys.argv) < 2 or sys.argv[1] not in probes:
        sys.exit(__doc__)
    probes[sys.argv[1]]()


if __name__ == "__main__":
    main()
