#!/usr/bin/env bash
# The GPU kit is made, its run completes here (on the software rasteriser), and
# the frames it writes, with the page read from its file, equal the capture
# tool's frames of the same moments pixel for pixel.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
fail() { echo "FAIL $*" && problems=$((problems + 1)); }

"$top/scripts/gpu-kit" "$work/kit" || { echo "FAIL scripts/gpu-kit" && exit 1; }
size=$(du -sm "$work/kit" | cut -f1)
[ "$size" -le 64 ] || fail "the kit holds $size MiB, more than 64"
# Only the C library and the GL/EGL dispatch may come from the system.
for program in "$work"/kit/bin/*; do
    others=$(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }' |
        grep -vxE 'lib(c|m)\.so\.6|libEGL\.so\.1|libOpenGL\.so\.0|ld-linux-x86-64\.so\.2')
    [ -z "$others" ] || fail "$(basename "$program") needs $others"
done

output=$("$work/kit/run" --quick --out "$work/frames")
status=$?
[ $status -eq 0 ] || fail "run exited $status"
printf '%s\n' "$output"
grep -q '^GL_RENDERER: .' <<<"$output" || fail "run names no renderer"
for build in small full; do
    for m in 5.0 20.0 50.0; do
        grep -qE "^$build +[0-9]+x[0-9]+ +m = +$m: +[0-9.]+ ms per frame.* fps, +[0-9.]+ % of 60" <<<"$output" ||
            fail "no frame time of $build at m = $m"
    done
    for m in -1 20 50; do
        frame=$work/frames/${build}_m$m.png
        grep -qE "^$build +m = +$m: .*more than 2/255: +0\.000 %, by more than 8/255: +0\.000 %" <<<"$output" ||
            fail "no difference of 0 from the reference reported for $build at m = $m"
        # The kit's reference frames are the capture tool's, made when the kit was.
        # ImageMagick 7 follows the count with its normalised value: "0 (0)".
        differing=$(compare -metric AE "$frame" "$work/kit/reference/${build}_m$m.png" null: 2>&1)
        differing=${differing%% *}
        [ "$differing" = 0 ] || fail "$build at m = $m: $differing pixels differ from the capture tool's frame"
    done
done
[ -s "$work/frames/results.txt" ] || fail "no results.txt"
exit $((problems > 0))
