#!/usr/bin/env bash
# Builds pelklib and its tools, then, inside a private sandbox (its own /dev,
# /dev/shm and IPC namespace), starts the board emulator runtime zbhost,
# writes a sample board-identity table with oamtab, and finds and drives
# boards by their logical numbers with pelk, records a session and replays
# it with zbhost --replay. zbhost is stopped at the end;
# the sandbox leaves nothing behind on the host.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${PELK_DEMO_INSIDE:-}" ]; then
    echo "== checking the Debian packages the build needs"
    scripts/install_deps.sh
    echo "== configuring the build (preset default)"
    cmake --preset default >/dev/null
    # One line per program, so a slow machine does not look stuck.
    for target in pelk zbhost oamtab pelk_tool; do
        echo "== building $target"
        cmake --build --preset default -j2 --target "$target" >/dev/null
    done
    echo "== entering the sandbox: private /dev, /dev/shm and IPC namespace"
    PELK_DEMO_INSIDE=1 exec tests/support/sandbox.sh "$0" "$@"
fi

bin=$PWD/build/default/tools
PATH=$bin/zbhost:$bin/oamtab:$bin/pelk:$PATH
table=docs/examples/boards.txt

step() { printf '\n== %s\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }
# For commands expected to fail: show their exit status instead of stopping.
show_failure() {
    printf '$ %s\n' "$*"
    local status=0
    "$@" || status=$?
    echo "(exit status $status)"
    [ "$status" -ne 0 ]
}

step "starting the emulator runtime"
echo '$ zbhost &'
zbhost &
zbhost_pid=$!
trap 'kill "$zbhost_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -p /dev/ZBHostManagerOut ] && break
    sleep 0.05
done
show ls /dev/ZBHostManagerIn /dev/ZBHostManagerOut

step "no board-identity table yet: looking says so and makes none"
show_failure pelk boards

step "writing the board-identity table (the OAM supervisor's job)"
show cat "$table"
echo "(board 5's driver board ID is not a number, on purpose: --force keeps it)"
show oamtab load --force "$table"

step "the table as the library sees it"
show pelk boards

step "resolving each logical board number to its driver"
for board in 1 2 3 4; do
    show pelk resolve "$board"
done
show_failure pelk resolve 5

step "message round trips with board 1, found by its logical number"
show pelk ping --board 1 --count 2000 --size 1024

step "board information of board 1"
show pelk info --board 1

step "board 3 is served by zb5t: no zb5t driver is present on this machine"
show_failure pelk info --board 3

step "board 4 is served by the qm plug-in, which has no backend in this library"
show_failure pelk ping --board 4

step "the same facts for scripts"
show pelk resolve 2 --json

step "recording a session: ping with capture, then the records as text"
capture_dir=$(mktemp -d)
capture=$capture_dir/ping.pcapng
show pelk ping --board 1 --count 3 --size 16 --capture "$capture"
show pelk trace "$capture"

step "stopping zbhost"
echo "\$ kill -TERM $zbhost_pid"
kill -TERM "$zbhost_pid"
wait "$zbhost_pid" && echo "zbhost exited with status 0"
trap - EXIT
kill -0 "$zbhost_pid" 2>/dev/null && echo "zbhost still runs" || echo "zbhost is gone"
printf 'left in /dev: %s\n' "$(ls /dev | grep ZBHost | tr '\n' ' ')"

step "replaying the recording: zbhost answers from the capture and compares"
echo "\$ zbhost --replay $capture &"
zbhost --replay "$capture" &
replay_pid=$!
for _ in $(seq 100); do
    [ -p /dev/ZBHostManagerOut ] && break
    sleep 0.05
done
show pelk ping --board 1 --count 3 --size 16
wait "$replay_pid" && echo "zbhost --replay exited with status 0: every message matched"
rm -rf "$capture_dir"

echo "(the semaphore marker is the library's own; leaving the sandbox removes"
echo " it with the sandbox's /dev, /dev/shm and IPC objects)"
