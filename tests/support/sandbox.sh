#!/usr/bin/env bash
# Runs a command in a private mount and IPC namespace whose /dev is a fresh
# tmpfs (null, zero, urandom, tty bound from the host) with a fresh /dev/shm.
# Device nodes, FIFOs, semaphores and shared-memory segments made inside are
# private to the command and vanish with it.
set -euo pipefail

if [ -z "${PELK_SANDBOXED:-}" ]; then
    ns=(--mount --ipc)
    if [ "$(id -u)" -ne 0 ]; then
        ns+=(--user --map-root-user)
    fi
    PELK_SANDBOXED=1 exec unshare "${ns[@]}" "$0" "$@"
fi

mount --make-rprivate /
stage=$(mktemp -d)
mount -t tmpfs -o mode=755 pelkdev "$stage"
for node in null zero urandom tty; do
    touch "$stage/$node"
    mount --bind "/dev/$node" "$stage/$node"
done
mkdir "$stage/shm"
mount -t tmpfs -o mode=1777 pelkshm "$stage/shm"
ln -s /proc/self/fd "$stage/fd"
ln -s /proc/self/fd/0 "$stage/stdin"
ln -s /proc/self/fd/1 "$stage/stdout"
ln -s /proc/self/fd/2 "$stage/stderr"
mount --move "$stage" /dev
rmdir "$stage"
exec "$@"
