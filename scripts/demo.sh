#!/usr/bin/env bash
# Builds pelklib and its tools, then, inside a private sandbox (its own /dev,
# /dev/shm and IPC namespace), starts the board emulator runtime zbhost,
# writes a sample board-identity table with oamtab, and finds and drives
# boards by their logical numbers with pelk, records a session and replays
# it with zbhost --replay, then puts pelkd in front of a new zbhost and pings
# through its Unix socket and through loopback TCP with mutual TLS (with
# certificates made on the spot). zbhost and pelkd are stopped at the end;
# the sandbox leaves nothing behind on the host.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${PELK_DEMO_INSIDE:-}" ]; then
    echo "== checking the Debian packages the build needs"
    scripts/install_deps.sh
    echo "== configuring the build (preset default)"
    cmake --preset default >/dev/null
    # One line per program, so a slow machine does not look stuck.
    for target in pelk zbhost oamtab pelk_tool pelkd; do
        echo "== building $target"
        cmake --build --preset default -j2 --target "$target" >/dev/null
    done
    echo "== entering the sandbox: private /dev, /dev/shm and IPC namespace"
    PELK_DEMO_INSIDE=1 exec tests/support/sandbox.sh "$0" "$@"
fi

bin=$PWD/build/default/tools
PATH=$bin/zbhost:$bin/oamtab:$bin/pelk:$bin/pelkd:$PATH
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

step "pelkd: this host's boards for other hosts, in front of zbhost"
echo '$ zbhost &'
zbhost &
zbhost_pid=$!
for _ in $(seq 100); do
    [ -p /dev/ZBHostManagerOut ] && break
    sleep 0.05
done
remote_dir=$(mktemp -d)
trap 'kill "$zbhost_pid" ${pelkd_pid:-} 2>/dev/null || true; rm -rf "$remote_dir"' EXIT
echo "(a CA, a certificate for pelkd on 127.0.0.1 and one for the client, made with openssl)"
(
    cd "$remote_dir"
    umask 077
    key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
    openssl req -x509 $key -keyout ca.key -out ca.pem -days 1 -subj /CN=demo-ca
    printf 'subjectAltName=IP:127.0.0.1\n' >pelkd.ext
    openssl req $key -keyout pelkd.key -out pelkd.csr -subj /CN=pelkd
    openssl x509 -req -in pelkd.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
        -extfile pelkd.ext -out pelkd.pem
    openssl req $key -keyout client.key -out client.csr -subj /CN=demo-client
    openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -days 1 -out client.pem
) >/dev/null 2>&1
socket=$remote_dir/pelkd.sock
printf '$ pelkd --listen unix:%s --listen tcp:127.0.0.1:0 --tls-cert pelkd.pem --tls-key pelkd.key --tls-client-ca ca.pem &\n' "$socket"
pelkd --listen "unix:$socket" --listen tcp:127.0.0.1:0 --tls-cert "$remote_dir/pelkd.pem" \
    --tls-key "$remote_dir/pelkd.key" --tls-client-ca "$remote_dir/ca.pem" >"$remote_dir/pelkd.out" &
pelkd_pid=$!
for _ in $(seq 100); do
    grep -q tcp: "$remote_dir/pelkd.out" 2>/dev/null && break
    sleep 0.05
done
cat "$remote_dir/pelkd.out"
port=$(sed -n 's/.*tcp:127\.0\.0\.1:\([0-9]*\).*/\1/p' "$remote_dir/pelkd.out")

step "through the Unix socket: ping and information, as a client elsewhere would ask"
show pelk --remote "unix:$socket" boards
show pelk --remote "unix:$socket" ping --board 1 --count 500 --size 1024
show env PELK_REMOTE="unix:$socket" pelk info --board 1
echo "(PELK_REMOTE makes the library's factories remote: unchanged programs use pelkd too)"

step "through loopback TCP with mutual TLS"
show env PELK_TLS_CA="$remote_dir/ca.pem" PELK_TLS_CERT="$remote_dir/client.pem" \
    PELK_TLS_KEY="$remote_dir/client.key" pelk --remote "127.0.0.1:$port" ping --board 1 \
    --count 500 --size 1024
echo "(a client speaking plain text, without a certificate of that CA, is refused:)"
show_failure pelk --remote "127.0.0.1:$port" ping --board 1 --count 1

step "stopping pelkd and zbhost"
kill -TERM "$pelkd_pid" && wait "$pelkd_pid" && echo "pelkd exited with status 0"
printf 'left in %s: %s\n' "$remote_dir" "$(ls "$remote_dir" | grep pelkd.sock | tr '\n' ' ')"
kill -TERM "$zbhost_pid" && wait "$zbhost_pid" && echo "zbhost exited with status 0"

echo "(the semaphore marker is the library's own; leaving the sandbox removes"
echo " it with the sandbox's /dev, /dev/shm and IPC objects)"
