#!/usr/bin/env bash
# scripts/doctor on this machine: it passes and names the decoder, the fonts and
# the renderer; with a font left out of Ghostscript's map, or another decoder
# version, it names the problem and exits non-zero. Run under xvfb-run, so that
# the display and OpenGL are checked as on a desktop.
set -uo pipefail
doctor=$(cd "$(dirname "$0")/.." && pwd)/scripts/doctor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0

expect() { # description, command status, expected status, output, patterns...
    local description=$1 status=$2 expected=$3 output=$4
    shift 4
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL $description: exit status $status, expected $expected"
        problems=$((problems + 1))
    fi
    for pattern in "$@"; do
        if ! grep -qE -- "$pattern" <<<"$output"; then
            echo "FAIL $description: no line matches /$pattern/"
            problems=$((problems + 1))
        fi
    done
    [ "$problems" -eq 0 ] || printf '%s\n' "$output"
}

output=$("$doctor" 2>&1)
expect "as set up" $? 0 "$output" \
    '^ok +Opus decoder: libopus 1\.3\.' \
    '^ok +font FreeSans: ' '^ok +font FreeSans-Bold: ' '^ok +font FreeSans-Italic: ' '^ok +font DejaVuSans: ' \
    '^ok +OpenGL: 4\.[2-9].*compatibility profile' \
    '^(ok|warning) +OpenGL renderer: [^ ]' \
    '^ok +library libopus\.so\.0: /' \
    'will play as designed here'

# The system's font map without the italic face: Ghostscript substitutes another font.
# Debian's update-gsfontmap writes the system's map here.
grep -v -e FreeSans-Italic -e FreeSansOblique /var/lib/ghostscript/fonts/Fontmap >"$work/Fontmap"
output=$(DOCTOR_GS_FONTMAP=$work/Fontmap "$doctor" 2>&1)
expect "without the italic font" $? 1 "$output" \
    '^FAILED +font FreeSans-Italic: Ghostscript substitutes [^ ]+ for it' '^ok +font FreeSans-Bold: '

output=$(DOCTOR_OPUS_VERSION="libopus 1.5.2" "$doctor" 2>&1)
expect "with another decoder" $? 2 "$output" \
    '^DIFFERS +Opus decoder: libopus 1\.5\.2 .*the song will sound different' '^ok +font FreeSans: '

exit $((problems > 0))
