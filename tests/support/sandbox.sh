#!/usr/bin/env bash
# pelk-sandbox COMMAND [ARGUMENTS...]
#
# Runs a command in a private mount and IPC namespace whose /dev is a fresh
# tmpfs (null, zero, urandom, tty bound from the host) with a fresh /dev/shm.
# Device nodes, FIFOs, semaphores and shared-memory segments made inside are
# private to the command and vanish with it. An ordinary user gets the
# namespaces inside a user namespace of its own (mapped to root there), so
# the host must allow unprivileged user namespaces. Mounts are made with -n:
# nothing writes the host's mount table file.
set -euo pipefail
me=$(basename "$0")

usage="usage: $me COMMAND [ARGUMENTS...]
Runs COMMAND with a private /dev, /dev/shm and IPC namespace."
if [ $# -eq 0 ]; then
    echo "$usage" >&2
    exit 2
fi
if [ "$1" = --help ]; then
    echo "$usage"
    exit 0
fi

if [ -z "${PELK_SANDBOXED:-}" ]; then
    ns=(--mount --ipc)
    if [ "$(id -u)" -ne 0 ]; then
        ns+=(--user --map-root-user)
        if ! unshare "${ns[@]}" true 2>/dev/null; then
            setting() { cat "/proc/sys/$1" 2>/dev/null || echo "not present"; }
            cat >&2 <<EOF
$me: this host does not let an ordinary user create a user namespace, which
the private /dev needs without root. Its settings:
    user.max_user_namespaces = $(setting user/max_user_namespaces)  (0 forbids them)
    kernel.unprivileged_userns_clone = $(setting kernel/unprivileged_userns_clone)  (0 forbids them)
    kernel.apparmor_restrict_unprivileged_userns = $(setting kernel/apparmor_restrict_unprivileged_userns)  (1 forbids them)
A container's seccomp policy may forbid them too. Run as root, or have the
administrator allow them (sysctl -w NAME=VALUE for the settings above).
EOF
            exit 1
        fi
    fi
    PELK_SANDBOXED=1 exec unshare "${ns[@]}" "$0" "$@"
fi
unset PELK_SANDBOXED

mount -n --make-rprivate /
stage=$(mktemp -d)
mount -n -t tmpfs -o mode=755 pelkdev "$stage"
for node in null zero urandom tty; do
    touch "$stage/$node"
    mount -n --bind "/dev/$node" "$stage/$node"
done
mkdir "$stage/shm"
mount -n -t tmpfs -o mode=1777 pelkshm "$stage/shm"
ln -s /proc/self/fd "$stage/fd"
ln -s /proc/self/fd/0 "$stage/stdin"
ln -s /proc/self/fd/1 "$stage/stdout"
ln -s /proc/self/fd/2 "$stage/stderr"
mount -n --move "$stage" /dev
rmdir "$stage"
# The command is root here, and finds root's programs: zbhost and oamtab are
# installed in sbin, which an ordinary user's PATH may lack.
case ":$PATH:" in
*:/usr/sbin:*) ;;
*) export PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin ;;
esac
exec "$@"
