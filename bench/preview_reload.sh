#!/usr/bin/env bash
# How long a save of the shader takes to reach the preview's window: from the
# file's change to the first frame drawn with the new program. The preview runs
# under a private Xvfb with --report-reload; its shader (a copy of
# assets/shader.frag) is saved again and again with a changed comment, written to
# a new file renamed over the old one as editors save. Every text is new, so no
# shader cache answers for it. Prints the machine first.
#
#   bench/preview_reload.sh [build folder] [saves per case]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
saves=${2:-5}
program=$build/tools/preview/korvatine_preview
[ -x "$program" ] || { echo "preview_reload: no $program; build it first" >&2; exit 1; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores," \
     "$(uname -sr)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One case: the preview started with the given options; saves come every $pause s.
measure() {
    local label=$1 pause=$2
    shift 2
    cp "$top/assets/shader.frag" "$work/shader.frag"
    SDL_AUDIODRIVER=dummy xvfb-run -a -s '-screen 0 1920x1080x24' bash -c '
        work=$1 saves=$2 pause=$3
        shift 3
        "$@" --shader "$work/shader.frag" --report-reload 2>"$work/preview.txt" &
        preview=$!
        window=$(timeout 60 xdotool search --sync --onlyvisible --pid "$preview" 2>/dev/null | head -n1)
        # The title names the moment once the first frame is on screen.
        until xdotool getwindowname "$window" | grep -q " | t "; do sleep 0.1; done
        sleep "$pause"
        for save in $(seq "$saves"); do
            { cat "$work/shader.frag"; echo "// save $save, $(date +%s%N)"; } >"$work/shader.new"
            mv "$work/shader.new" "$work/shader.frag"
            sleep "$pause"
        done
        xdotool key --window "$window" Escape
        wait "$preview"
    ' _ "$work" "$saves" "$pause" "$program" "$@"
    grep "reload:" "$work/preview.txt" >&2 || true
    python3 - "$label" "$work/preview.txt" <<'SUMMARY'
import re, statistics, sys
label, path = sys.argv[1], sys.argv[2]
renderer = next((line.split("renderer: ", 1)[1].strip() for line in open(path) if "renderer: " in line), "?")
reloads = [[float(n) for n in re.findall(r"(\d+) ms", line)] for line in open(path) if "reload:" in line]
if not reloads:
    sys.exit(f"{label}: no reload was reported:\n" + open(path).read())
screen, compile, frame = ([r[i] for r in reloads] for i in range(3))
print(f"{label}: on screen {statistics.median(screen):.0f} ms after the save (median of {len(screen)}, "
      f"{min(screen):.0f} to {max(screen):.0f}), of which compile {statistics.median(compile):.0f} ms, "
      f"first frame {statistics.median(frame):.0f} ms; {renderer}")
SUMMARY
}

measure "small build, paused at 20 s" 1 --build small --from 20 --paused
measure "small build, playing from 20 s" 1 --build small --from 20
measure "full build, paused at 20 s" 5 --build full --from 20 --paused
