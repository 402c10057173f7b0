#!/usr/bin/env bash
# Soak of the emulator handshake (not in CI): builds the default preset and
# runs bench/soak_handshake in the test sandbox, where zbhost is
# killed and restarted CYCLES times (default 300) at random moments while 8
# client processes open, talk and close. Fails when a restart failed or a
# client was not served again after the last restart (a wedge). Takes about
# 10 s for 300 cycles.
set -euo pipefail
cd "$(dirname "$0")/.."
cycles=${1:-300}

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target soak_handshake zbhost >/dev/null
PELK_SOAK_CYCLES=$cycles tests/support/sandbox.sh build/default/bench/soak_handshake
