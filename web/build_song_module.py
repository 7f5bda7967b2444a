#!/usr/bin/env python3
"""Compiles the browser edition's song module, song.wasm: song_module.cpp and the
show's song.hpp with libopus from its unpacked source, by emscripten, as a
standalone WebAssembly module that imports nothing.

  build_song_module.py --opus OPUS_SOURCE --module web/song_module.cpp --include REPO
                       --objects DIR --out song.wasm

libopus is built as Debian builds it for x86-64, as far as its output goes:
the floating-point decoder without fast approximations, from the files its own
lists name (celt_sources.mk, silk_sources.mk, opus_sources.mk, without the
processor-specific ones). The objects are kept in DIR and compiled again only
when their source or the flags change.
"""

import argparse
import concurrent.futures
import os
import pathlib
import re
import subprocess
import sys

OPUS_LISTS = {
    "celt_sources.mk": ["CELT_SOURCES"],
    "silk_sources.mk": ["SILK_SOURCES", "SILK_SOURCES_FLOAT"],
    "opus_sources.mk": ["OPUS_SOURCES", "OPUS_SOURCES_FLOAT"],
}
OPUS_FLAGS = ["-O2", "-DOPUS_BUILD", "-DUSE_ALLOCA", "-DHAVE_LRINTF", "-DHAVE_LRINT"]
OPUS_INCLUDES = ["include", "celt", "silk", "silk/float"]
# The song (6.5 MiB), the values played (13 MiB), the stack and two decoders.
MEMORY_BYTES = 32 << 20


def opus_sources(source):
    files = []
    for list_name, variables in OPUS_LISTS.items():
        text = (source / list_name).read_text().replace("\\\n", " ")
        for line in text.splitlines():
            match = re.match(r"(\w+)\s*=(.*)", line)
            if match and match.group(1) in variables:
                files += match.group(2).split()
    return files


def compile_object(emcc, source, file, objects, flags):
    out = objects / (file.replace("/", "_") + ".o")
    if out.exists() and out.stat().st_mtime >= (source / file).stat().st_mtime:
        return out
    includes = [f"-I{source / folder}" for folder in OPUS_INCLUDES]
    subprocess.run([emcc, *flags, *includes, "-c", str(source / file), "-o", str(out)], check=True)
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--emcc", default="emcc")
    parser.add_argument("--opus", required=True, type=pathlib.Path)
    parser.add_argument("--module", required=True)
    parser.add_argument("--include", required=True, type=pathlib.Path)
    parser.add_argument("--objects", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    args.objects.mkdir(parents=True, exist_ok=True)
    flags_file = args.objects / "flags"
    if not flags_file.exists() or flags_file.read_text() != " ".join(OPUS_FLAGS):
        for old in args.objects.glob("*.o"):
            old.unlink()
        flags_file.write_text(" ".join(OPUS_FLAGS))
    files = opus_sources(args.opus)
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        objects = list(pool.map(lambda file: compile_object(args.emcc, args.opus, file, args.objects, OPUS_FLAGS),
                                files))

    # song.hpp includes <opus/opus.h>: the source's include folder under that name.
    headers = args.objects / "include"
    headers.mkdir(exist_ok=True)
    link = headers / "opus"
    if not link.is_symlink() or link.resolve() != (args.opus / "include").resolve():
        link.unlink(missing_ok=True)
        link.symlink_to((args.opus / "include").resolve())
    subprocess.run([args.emcc, "-O2", "-std=c++20", "-fno-exceptions", "-fno-rtti", f"-I{args.include}",
                    f"-I{headers}", args.module, *map(str, objects), "-o", args.out, "--no-entry",
                    "-sSTANDALONE_WASM", f"-sINITIAL_MEMORY={MEMORY_BYTES}"], check=True)
    print(f"{pathlib.Path(args.out).name}: {pathlib.Path(args.out).stat().st_size} bytes, "
          f"libopus 1.3.1 ({len(files)} files) and the song")


if __name__ == "__main__":
    sys.exit(main())
