#!/usr/bin/env bash
# scripts/release on this machine: the folder and the zip hold the archive's
# files, the compo files are the build's packed programs, the portable edition
# links its decoder in and needs nothing newer than glibc 2.35, the info text
# has its install lines, the screenshot is a full-size picture, not black, and
# the browser edition is the build's page.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
fail() { echo "FAIL $*" && problems=$((problems + 1)); }

output=$("$top/scripts/release" "$work/dist" 2>&1) || { printf '%s\n' "$output" && echo "FAIL scripts/release" && exit 1; }
printf '%s\n' "$output"
folder=$work/dist/korvatine
files="korvatine_small korvatine_full portable/korvatine_small portable/korvatine_full korvatine.txt korvatine.png
    korvatine.html"
for file in $files; do
    [ -f "$folder/$file" ] || fail "the folder has no $file"
    grep -qE "korvatine/$file +$(stat -c %s "$folder/$file" 2>/dev/null) bytes" <<<"$output" ||
        fail "the release does not print the size of $file"
done
listed=$(unzip -Z1 "$work/dist/korvatine.zip" | grep -v '/$' | sort)
expected=$(for file in $files; do echo "korvatine/$file"; done | sort)
[ "$listed" = "$expected" ] || fail "the zip holds $(echo $listed), not $(echo $expected)"
mkdir "$work/unzipped"
unzip -q "$work/dist/korvatine.zip" -d "$work/unzipped"
for file in $files; do
    cmp -s "$folder/$file" "$work/unzipped/korvatine/$file" || fail "the zip's $file is not the folder's"
done
[ -x "$work/unzipped/korvatine/portable/korvatine_full" ] || fail "the zip does not keep the programs executable"

for name in korvatine_small korvatine_full; do
    cmp -s "$folder/$name" "$build/$name" || fail "$name is not the build's packed program"
    needed=$(objdump -p "$folder/portable/$name" | awk '$1 == "NEEDED" { print $2 }')
    grep -q libopus <<<"$needed" && fail "portable/$name needs $(grep libopus <<<"$needed")"
    others=$(grep -vxE 'lib(c|m)\.so\.6|libSDL2-2\.0\.so\.0|libGL\.so\.1|libspectre\.so\.1|libfontconfig\.so\.1' <<<"$needed")
    [ -z "$others" ] || fail "portable/$name needs $others"
    newest=$(objdump -T "$folder/portable/$name" | grep -oE 'GLIBC_[0-9.]+' | sort -uV | tail -n 1)
    [ "$(printf '%s\n' "$newest" GLIBC_2.35 | sort -V | tail -n 1)" = GLIBC_2.35 ] ||
        fail "portable/$name needs $newest, newer than glibc 2.35"
done

cmp -s "$folder/korvatine.html" "$build/web/korvatine.html" || fail "korvatine.html is not the build's page"

text=$folder/korvatine.txt
grep -qE '@[A-Z_]+@' "$text" && fail "the info text has a placeholder left: $(grep -E '@[A-Z_]+@' "$text")"
grep -qE '^ +sudo apt install .*libsdl2-2\.0-0.*libspectre1.*libopus0.*fonts-freefont-ttf' "$text" || fail "no apt line"
grep -qE '^ +sudo dnf install .*libspectre.*gnu-free-sans-fonts.*dejavu-sans-fonts' "$text" || fail "no dnf line"
grep -qE '^ +sudo pacman -S .*libspectre.*gnu-free-fonts.*ttf-dejavu' "$text" || fail "no pacman line"
grep -q 'scripts/doctor' "$text" || fail "the info text does not name scripts/doctor"
grep -q 'korvatine.html#check' "$text" || fail "the info text does not say how to watch the show in a browser"
grep -q "$(stat -c %s "$folder/korvatine_small") bytes" "$text" || fail "the info text has not the compo file's size"

shot=$(identify -format '%w %h %[fx:mean] %[opaque]' "$folder/korvatine.png" 2>&1)
read -r width height mean opaque <<<"$shot"
[ "$width x $height" = "1920 x 1080" ] || fail "the screenshot is $shot"
awk -v mean="$mean" 'BEGIN { exit !(mean > 0.05) }' || fail "the screenshot is (nearly) black: mean $mean"
# ImageMagick 6 says "true", 7 "True".
[ "${opaque,,}" = true ] || fail "the screenshot is not opaque"

exit $((problems > 0))
