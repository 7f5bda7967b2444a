#!/usr/bin/env bash
# Peak memory of the show: runs korvatine_small under a private Xvfb, lets it
# reach the frame loop, ends it with Escape and prints the peak resident size
# that /usr/bin/time measured, with the machine it ran on.
#
#   bench/show_memory.sh [build folder] [seconds in the frame loop]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-3}
program=$build/korvatine_small
[ -x "$program" ] || { echo "show_memory: no $program; build it first" >&2; exit 1; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores," \
     "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(uname -sr)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Inside the virtual display: start the show under time, wait for its window,
# give it the frame loop for a while, then press Escape.
xvfb-run -a -s '-screen 0 1280x720x24' bash -c '
    /usr/bin/time -v -o "$1/time.txt" "$2" 2>"$1/show.txt" &
    timer=$!
    for _ in $(seq 100); do
        show=$(pgrep -P "$timer" || true)
        [ -n "$show" ] && break
        sleep 0.1
    done
    window=$(timeout 60 xdotool search --sync --pid "$show" 2>/dev/null | head -n1)
    sleep "$3"
    xdotool windowfocus --sync "$window" key Escape
    wait "$timer"
' show_memory "$work" "$program" "$seconds"

grep -E 'Exit status|Maximum resident set size|Elapsed' "$work/time.txt" | sed 's/^\s*/  /'
awk '/Maximum resident set size/ {printf "peak resident memory of the show: %.0f MiB\n", $NF / 1024}' "$work/time.txt"
grep 'label sheet' "$work/show.txt" || true
