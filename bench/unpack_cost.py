#!/usr/bin/env python3
"""What unpacking adds to the show's start: runs the packed program and the
unpacked one it carries, each without a display, where the show synthesises
its song, starts SDL and stops at once with its one-line message. The runs
differ only in the unpacking; prints the medians and their difference."""

import os
import statistics
import subprocess
import sys
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 11
environment = {key: value for key, value in os.environ.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY")}
environment["SDL_AUDIODRIVER"] = "dummy"


def seconds(program):
    start = time.perf_counter()
    result = subprocess.run([program], env=environment, capture_output=True)
    elapsed = time.perf_counter() - start
    if b"no display" not in result.stderr:
        sys.exit(f"{program} did not reach the show's start: {result.stderr!r}")
    return elapsed


for name in ("korvatine_small", "korvatine_full"):
    packed, unpacked = os.path.join(build, name), os.path.join(build, f"{name}.elf")
    times = {packed: [], unpacked: []}
    for _ in range(runs):  # interleaved, so that a busy moment weighs on both
        for program in times:
            times[program].append(seconds(program))
    packed_ms, unpacked_ms = (1000 * statistics.median(times[p]) for p in (packed, unpacked))
    print(f"{name}: exec to the show's start, median of {runs}: packed {packed_ms:.1f} ms, "
          f"unpacked {unpacked_ms:.1f} ms, unpacking adds {packed_ms - unpacked_ms:.1f} ms")
