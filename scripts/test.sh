#!/usr/bin/env bash
# Builds pelklib and runs every test: first the normal build, then the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# multi-thread tests under ThreadSanitizer, then each fuzz harness for
# PELK_FUZZ_SECONDS seconds (default 60; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

for preset in default asan; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
    ctest --preset "$preset"
done

echo "=== tsan ==="
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$(nproc)"
ctest --preset tsan

if [ "${PELK_FUZZ_SECONDS:-60}" != 0 ]; then
    echo "=== fuzz ==="
    scripts/fuzz.sh "${PELK_FUZZ_SECONDS:-60}"
fi
