#!/usr/bin/env bash
# scripts/other-systems' row of a run of scripts/test and its table, from
# made-up logs: a green suite with a skipped test, one with failures, one that
# ended before ctest's summary. Run as the script runs them, under set -euo
# pipefail. Then the script itself with --only-suite and no build, as on a fresh
# clone, as far as making its first chroot (a stand-in debootstrap that fails).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
table=$top/tools/other-systems/table
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
fail() { echo "FAIL $*" && problems=$((problems + 1)); }
as_script() { bash -c 'set -euo pipefail && . "$0" && "$@"' "$table" "$@"; }

printf '94/94 Test #94: compare_song ....   Passed    1.20 sec\n\n100%% tests passed, 0 tests failed out of 94\n\nTotal Test time (real) = 419.50 sec\n\nThe following tests did not run:\n\t 12 - Song.ChecksumForTheLibopusItWasMadeWith (Skipped)\n' >"$work/green.log"
printf '96%% tests passed, 2 tests failed out of 94\n\nThe following tests FAILED:\n\t 61 - release (Failed)\n\t 80 - PortableTest.FontMap (Failed)\nErrors while running CTest\n' >"$work/red.log"
printf 'E: Unable to locate package cmake\n' >"$work/cut.log"

as_script suite_row trixie 0 378 "$work/green.log" >"$work/green" || fail "no row for a green suite"
output=$(as_script print_table "$work/green") || fail "a green suite's table ends with $?"
green_row='| trixie | scripts/test | whole suite | ok | 378 | 93 passed, 0 failed, 1 skipped of 94 tests; skipped: Song.ChecksumForTheLibopusItWasMadeWith |'
[ "$output" = "$(printf '| System | Program | Case | Result | Seconds | Detail |\n|---|---|---|---|---|---|\n%s' "$green_row")" ] ||
    fail "a green suite's table, the table alone: $output"

{ echo 'version|forky|Debian testing' && cat "$work/green"; } >"$work/results"
as_script suite_row forky 8 401 "$work/red.log" >>"$work/results"
as_script suite_row forky 100 12 "$work/cut.log" >>"$work/results"
output=$(as_script print_table "$work/results") && fail "a table with failed rows ends with 0"
for line in '- forky: Debian testing' "$green_row" \
    '| forky | scripts/test | whole suite | FAILED | 401 | 92 passed, 2 failed, 0 skipped of 94 tests; failing: release PortableTest.FontMap |' \
    "| forky | scripts/test | whole suite | FAILED | 12 | no summary, scripts/test ended with 100 (see $work/cut.log) |"; do
    grep -qxF -- "$line" <<<"$output" || fail "no line '$line' in: $output"
done

mkdir -p "$work/bin" "$work/empty"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/debootstrap"
chmod +x "$work/bin/id" "$work/bin/debootstrap"
output=$(PATH=$work/bin:$PATH KORVATINE_OTHER_SYSTEMS_CACHE=$work/cache \
    "$top/scripts/other-systems" --only-suite --build "$work/empty" --systems trixie 2>&1)
grep -qF "debootstrap failed" <<<"$output" || fail "--only-suite without a build stopped before its chroot: $output"
exit $((problems > 0))
