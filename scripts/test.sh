#!/usr/bin/env bash
# Builds pelklib and runs every test: first the normal build, then the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# multi-thread tests under ThreadSanitizer, then each fuzz harness for
# PELK_FUZZ_SECONDS seconds (default 60; 0 skips fuzzing), then the Python
# package built by pip (tests/check_python_package.sh); as root, also the
# demo once as an ordinary user, and the Debian packages built, installed,
# used and purged (tests/check_packages.sh). Ends with one line counting
# every test run, fuzz harness, demo and package check that passed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0

for preset in default asan tsan; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
    ctest --preset "$preset" | tee "$log"
    count=$(grep -oE 'out of [0-9]+' "$log" | grep -oE '[0-9]+$')
    passed=$((passed + count))
done

if [ "${PELK_FUZZ_SECONDS:-60}" != 0 ]; then
    scripts/fuzz.sh "${PELK_FUZZ_SECONDS:-60}" | tee "$log"
    passed=$((passed + $(grep -c ' 0 crashes$' "$log")))
fi

echo "=== python package ==="
tests/check_python_package.sh
passed=$((passed + 1))

if [ "$(id -u)" -eq 0 ]; then
    scripts/demo_as_user.sh
    passed=$((passed + 1))
    echo "=== packages ==="
    tests/check_packages.sh
    passed=$((passed + 1))
fi

echo "$passed passed, 0 failed"
