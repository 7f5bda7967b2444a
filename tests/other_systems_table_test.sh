#!/usr/bin/env bash
# scripts/other-systems' row of a run of scripts/test and its table, from
# made-up logs: a green suite, one with failures, one that ended before ctest's
# summary. Run as the script runs them, under set -euo pipefail.
set -uo pipefail
table=$(cd "$(dirname "$0")/.." && pwd)/tools/other-systems/table
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
fail() { echo "FAIL $*" && problems=$((problems + 1)); }
as_script() { bash -c 'set -euo pipefail && . "$0" && "$@"' "$table" "$@"; }

printf '94/94 Test #94: compare_song ....   Passed    1.20 sec\n\n100%% tests passed, 0 tests failed out of 94\n' >"$work/green.log"
printf '96%% tests passed, 2 tests failed out of 94\n\nThe following tests FAILED:\n\t 61 - release (Failed)\n\t 80 - PortableTest.FontMap (Failed)\nErrors while running CTest\n' >"$work/red.log"
printf 'E: Unable to locate package cmake\n' >"$work/cut.log"

as_script suite_row trixie 0 378 "$work/green.log" >"$work/green" || fail "no row for a green suite"
output=$(as_script print_table "$work/green") || fail "a green suite's table ends with $?"
grep -qxF '| trixie | scripts/test | whole suite | ok | 378 | 100% tests passed, 0 tests failed out of 94 |' <<<"$output" ||
    fail "a green suite's table: $output"

{ echo 'version|forky|Debian testing' && cat "$work/green"; } >"$work/results"
as_script suite_row forky 8 401 "$work/red.log" >>"$work/results"
as_script suite_row forky 100 12 "$work/cut.log" >>"$work/results"
output=$(as_script print_table "$work/results") && fail "a table with failed rows ends with 0"
for line in '- forky: Debian testing' '| trixie | scripts/test | whole suite | ok | 378 | 100% tests passed, 0 tests failed out of 94 |' \
    '| forky | scripts/test | whole suite | FAILED | 401 | 96% tests passed, 2 tests failed out of 94; failing: release PortableTest.FontMap |' \
    "| forky | scripts/test | whole suite | FAILED | 12 | no summary, scripts/test ended with 100 (see $work/cut.log) |"; do
    grep -qxF -- "$line" <<<"$output" || fail "no line '$line' in: $output"
done
exit $((problems > 0))
