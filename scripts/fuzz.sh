#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset fuzz) and runs each *_fuzz program
# for the given seconds (default 60), starting from a scratch copy of its seed
# corpus fuzz/corpus/<name>/ so the tree stays as it is. Harnesses built with
# a <name>.sandbox marker run inside tests/support/sandbox.sh. Prints one line
# per harness with its executions and crashes; crashing inputs are kept in
# build/fuzz/crashes/<name>/. Fails when any harness crashed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
# Only the harnesses: the rest of the tree is built by the other presets.
harnesses=$(for source in fuzz/*_fuzz.cpp; do basename "$source" .cpp; done)
# shellcheck disable=SC2086
cmake --build --preset fuzz -j2 --target $harnesses >/dev/null

bin=build/fuzz/fuzz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
for harness in "$bin"/*_fuzz; do
    name=$(basename "$harness")
    corpus="$scratch/$name"
    crashes="build/fuzz/crashes/$name"
    mkdir -p "$corpus" "$crashes"
    if [ -d "fuzz/corpus/$name" ]; then
        cp -r "fuzz/corpus/$name/." "$corpus/"
    fi
    run=("$(realpath "$harness")")
    if [ -e "$harness.sandbox" ]; then
        run=(tests/support/sandbox.sh "${run[@]}")
    fi
    log="$scratch/$name.log"
    before=$(find "$crashes" -type f | wc -l)
    status=0
    "${run[@]}" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$crashes/" "$corpus" >"$log" 2>&1 || status=$?
    executions=$(grep -o 'number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    if [ -z "$executions" ]; then
        # A crash ends the run before the final statistics: take the last count.
        executions=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#' || true)
    fi
    found=$(( $(find "$crashes" -type f | wc -l) - before ))
    if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
        found=1
    fi
    echo "$name: ${executions:-0} executions, $found crashes"
    if [ "$found" -ne 0 ]; then
        failed=1
        tail -n 40 "$log" >&2
    fi
done
exit "$failed"
