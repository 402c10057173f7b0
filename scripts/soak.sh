#!/usr/bin/env bash
# Runs the whole default test suite ROUNDS times in a row (default 20) beside
# a CPU-bound load (one busy loop per core), to bring out tests that depend on
# timing. Prints one line per round, the failing tests of a failed round (its
# whole output is kept in build/default/soak-ROUND.log), and a count at the
# end; exits 1 when any round failed. Not part of CI: run it by hand after
# changing tests or code whose timing matters.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-20}

cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" >/dev/null

load=()
stop_load() { [ ${#load[@]} -eq 0 ] || kill "${load[@]}" 2>/dev/null || true; }
trap stop_load EXIT
for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    load+=($!)
done

failed=0
for round in $(seq "$rounds"); do
    log=build/default/soak-$round.log
    if ctest --preset default >"$log" 2>&1; then
        echo "round $round: passed"
        rm -f "$log"
    else
        failed=$((failed + 1))
        echo "round $round: FAILED (see $log)"
        grep -E '^\[  FAILED  \] [^ ]+\.[^ ]+|^ *[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess)' "$log" |
            sort -u | sed 's/^/    /' || true
    fi
done
echo "$((rounds - failed)) of $rounds rounds passed under load"
[ "$failed" -eq 0 ]
