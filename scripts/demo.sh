#!/usr/bin/env bash
# Builds pelklib, then, inside a private sandbox (its own /dev and IPC),
# starts the board emulator runtime zbhost and drives an emulated board
# through the public API with the pelk tool. zbhost is stopped at the end;
# the sandbox leaves nothing behind on the host.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${PELK_DEMO_INSIDE:-}" ]; then
    scripts/install_deps.sh
    echo "== building (preset default)"
    cmake --preset default >/dev/null
    cmake --build --preset default -j2 --target zbhost pelk_tool >/dev/null
    echo "== entering the sandbox: private /dev, /dev/shm and IPC namespace"
    PELK_DEMO_INSIDE=1 exec tests/support/sandbox.sh "$0" "$@"
fi

bin=build/default/tools
zbhost=$bin/zbhost/zbhost
pelk=$bin/pelk/pelk

step() { printf '\n== %s\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }

step "starting the emulator runtime"
"$zbhost" --verbose &
zbhost_pid=$!
trap 'kill "$zbhost_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -p /dev/ZBHostManagerOut ] && break
    sleep 0.05
done
echo "$ ls /dev | grep ZBHost"
ls /dev | grep ZBHost

step "message round trips with an emulated board (driver type zbhost)"
show "$pelk" ping --count 5 --size 1024

step "reading the emulated EEPROM"
show "$pelk" eeprom 0 20
show "$pelk" eeprom 20 84

step "storing board data and reading it back"
show "$pelk" data "hello from the pelk demo"

step "stopping zbhost"
kill -TERM "$zbhost_pid"
wait "$zbhost_pid" && echo "zbhost exited with status 0"
trap - EXIT
printf 'left in /dev: %s\n' "$(ls /dev | grep ZBHost | tr '\n' ' ')"
echo "(the semaphore marker is the library's own; the sandbox removes it with /dev)"
