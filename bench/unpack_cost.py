#!/usr/bin/env python3
"""What unpacking adds to the show's start and to its peak memory: runs the packed program and the
unpacked one it carries, each without a display, where the show synthesises
its song, starts SDL and stops at once with its one-line message. The runs
differ only in the unpacking. Prints, for each, the wall-clock time from exec
to the end (fastest and median of the runs, interleaved) and the processor
time (median, the decompressor's included), and the differences. Where the
build has made the portable edition (portable/NAME), it runs the same way
beside them and its difference to the packed program is printed too."""

import os
import statistics
import subprocess
import sys
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 11
environment = {key: value for key, value in os.environ.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY")}
environment["SDL_AUDIODRIVER"] = "dummy"


def measure(program):
    """Wall-clock and processor seconds of one run, and its peak memory in MiB
    (the kernel keeps the peak across the packed program's exec, decoder included)."""
    start = time.perf_counter()
    process = subprocess.Popen([program], env=environment, stderr=subprocess.PIPE)
    said = process.stderr.read()
    _, _, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if b"no display" not in said:
        sys.exit(f"{program} did not reach the show's start: {said!r}")
    return elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


for name in ("korvatine_small", "korvatine_full"):
    packed, unpacked = os.path.join(build, name), os.path.join(build, f"{name}.elf")
    portable = os.path.join(build, "portable", name)
    runs_of = {packed: [], unpacked: []}
    if os.path.exists(portable):
        runs_of[portable] = []
    for _ in range(runs):  # interleaved, so that a busy moment weighs on both
        for program in runs_of:
            runs_of[program].append(measure(program))
    figures = {}
    for program, measured in runs_of.items():
        walls, processor = [run[0] for run in measured], [run[1] for run in measured]
        figures[program] = [1000 * min(walls), 1000 * statistics.median(walls), 1000 * statistics.median(processor),
                            max(run[2] for run in measured)]
    added = [a - b for a, b in zip(figures[packed], figures[unpacked])]
    print(f"{name}, {runs} runs each, ms (fastest wall / median wall / median processor), peak MiB:")
    print("  packed    {:7.1f} {:7.1f} {:7.1f} {:7.1f}".format(*figures[packed]))
    print("  unpacked  {:7.1f} {:7.1f} {:7.1f} {:7.1f}".format(*figures[unpacked]))
    print("  unpacking {:+7.1f} {:+7.1f} {:+7.1f} {:+7.1f}".format(*added))
    if portable in figures:
        print("  portable  {:7.1f} {:7.1f} {:7.1f} {:7.1f}".format(*figures[portable]))
        print("  portable against packed {:+7.1f} {:+7.1f} {:+7.1f} {:+7.1f}".format(
            *[a - b for a, b in zip(figures[portable], figures[packed])]))
