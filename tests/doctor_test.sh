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

# The verdict follows the decoder found here: as made with 1.3.x, another one differs.
decoder=$(python3 -c 'import ctypes; o = ctypes.CDLL("libopus.so.0"); o.opus_get_version_string.restype = ctypes.c_char_p; print(o.opus_get_version_string().decode())')
if [[ $decoder =~ ^libopus\ 1\.3(\.|$) ]]; then
    expected_status=0 decoder_line='^ok +Opus decoder: libopus 1\.3\.' verdict='will play as designed here'
else
    expected_status=2 verdict='^doctor: 0 failed, 1 differ from the design'
    decoder_line="^DIFFERS +Opus decoder: ${decoder//./\\.}: the song will sound different"
fi
output=$("$doctor" 2>&1)
expect "as set up ($decoder)" $? $expected_status "$output" \
    "$decoder_line" \
    '^ok +font FreeSans: ' '^ok +font FreeSans-Bold: ' '^ok +font FreeSans-Italic: ' '^ok +font DejaVuSans: ' \
    '^ok +OpenGL: 4\.[2-9].*compatibility profile' \
    '^(ok|warning) +OpenGL renderer: [^ ]' \
    '^ok +library libopus\.so\.0: /' \
    "$verdict"

# The system's font map without the italic face: Ghostscript substitutes another font.
# Debian's update-gsfontmap writes the system's map here.
grep -v -e FreeSans-Italic -e FreeSansOblique /var/lib/ghostscript/fonts/Fontmap >"$work/Fontmap"
output=$(DOCTOR_GS_FONTMAP=$work/Fontmap "$doctor" 2>&1)
expect "without the italic font" $? 1 "$output" \
    '^FAILED +font FreeSans-Italic: Ghostscript substitutes [^ ]+ for it' '^ok +font FreeSans-Bold: '

# Ghostscript 10.05's wording: it says it cannot find a file and then loads the
# right one, or substitutes another family (here the bold face's Nimbus Sans).
cat >"$work/gs-10.05" <<'GS'
#!/usr/bin/env bash
font=$(sed -E 's|^/([^ ]+) findfont.*|\1|' | head -n 1)
echo "GPL Ghostscript 10.05.1 (2025-04-29)"
echo "Querying operating system for font files..."
echo "Can't find (or can't open) font file /usr/share/ghostscript/10.05.1/Resource/Font//usr/sha."
echo "Can't find (or can't open) font file $font."
case $font in
FreeSans-Bold)
    echo "Didn't find this font on the system!"
    echo "Substituting font Helvetica-Bold for FreeSans-Bold."
    echo "Loading NimbusSanL-Bold font from /usr/share/fonts/type1/urw-base35/NimbusSans-Bold.t1... 3515680 2156662 2911992 1597456 1 done."
    echo "Using NimbusSans-Bold font for NimbusSanL-Bold." ;;
FreeSans-Italic) echo "Loading FreeSansOblique font from /usr/share/fonts/truetype/freefont/FreeSansOblique.ttf... 3719856 2206252 3910872 2579311 1 done." ;;
*) echo "Loading $font font from /usr/share/fonts/truetype/x/$font.ttf... 3778880 2330366 6322216 4963410 1 done." ;;
esac
echo FONT-RESOLVED
GS
chmod +x "$work/gs-10.05"
output=$(DOCTOR_GS=$work/gs-10.05 "$doctor" 2>&1)
expect "with Ghostscript 10.05's wording" $? 1 "$output" \
    '^ok +font FreeSans: Ghostscript loads /usr/share/fonts/truetype/x/FreeSans\.ttf' \
    '^ok +font FreeSans-Italic: Ghostscript loads /usr/share/fonts/truetype/freefont/FreeSansOblique\.ttf' \
    '^ok +font DejaVuSans: ' \
    '^FAILED +font FreeSans-Bold: Ghostscript substitutes Helvetica-Bold for it \(it loads /usr/share/fonts/type1/urw-base35/NimbusSans-Bold\.t1\)' \
    '^doctor: 1 failed'

output=$(DOCTOR_OPUS_VERSION="libopus 1.5.2" "$doctor" 2>&1)
expect "with another decoder" $? 2 "$output" \
    '^DIFFERS +Opus decoder: libopus 1\.5\.2 .*the song will sound different' '^ok +font FreeSans: '

exit $((problems > 0))
