#!/usr/bin/env bash
# The whole show (the packed small program) through a real sound server: a
# private PipeWire with pipewire-pulse, into a null sink whose monitor is
# recorded. The recording must be the song as the audio callback hands it
# over, stretch by stretch between dropouts, with at most 1 s of silence
# added by them; the show ends by itself with 0.
#   sound_server_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1 build_dir=$2
work=$(mktemp -d)
server=$source_dir/tools/sound/sound-server
cleanup() {
    "$server" stop "$work/run" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$build_dir/tools/korvatine_capture" song --out "$work/song.wav" >/dev/null || exit 1
"$server" start "$work/run" || exit 1
"$server" record "$work/run" "$work/recording.raw"
started=$(date +%s.%N)
XDG_RUNTIME_DIR=$work/run timeout 180 env -u SDL_AUDIODRIVER -u SDL_DISKAUDIOFILE \
    xvfb-run -a -s "-screen 0 1920x1080x24" "$build_dir/korvatine_small" 2>"$work/show.err"
status=$?
seconds=$(awk -v from="$started" -v to="$(date +%s.%N)" 'BEGIN { printf "%.1f", to - from }')
sleep 1
"$server" stop "$work/run"
problems=0
if [ "$status" -ne 0 ]; then
    echo "FAIL the show ended with status $status after $seconds s: $(cat "$work/show.err")"
    problems=1
fi
# The song lasts 76.8 s from the first frame; start-up comes before it.
if awk -v s="$seconds" 'BEGIN { exit !(s < 76 || s > 100) }'; then
    echo "FAIL the show took $seconds s"
    problems=1
fi
echo "the show ended with status $status after $seconds s"
python3 "$source_dir/tools/sound/compare_song.py" --song "$work/song.wav" --recording "$work/recording.raw" \
    --max-added-seconds 1.0 || problems=1
exit $problems
