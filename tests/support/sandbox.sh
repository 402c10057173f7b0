#!/usr/bin/env bash
# pelk-sandbox [OPTIONS] COMMAND [ARGUMENTS...]
#
# Runs a command in a private mount and IPC namespace whose /dev is a fresh
# tmpfs (null, zero, urandom, tty bound from the host) with a fresh /dev/shm.
# Device nodes, FIFOs, semaphores and shared-memory segments made inside are
# private to the command and vanish with it. An ordinary user gets the
# namespaces inside a user namespace of its own (mapped to root there), so
# the host must allow unprivileged user namespaces. Mounts are made with -n:
# nothing writes the host's mount table file.
set -euo pipefail
me=pelk-sandbox
version="@PROJECT_VERSION@"  # set when the build makes the installed copy

# The help, in the layout of the other tools' help.
help() {
    cat <<EOF
Usage: $me [OPTIONS] COMMAND [ARGUMENTS...]
       $me -h | -V

Runs COMMAND with a private /dev, /dev/shm and IPC namespace, so that the
emulator's pipes, its semaphore and the shared-memory segments (the
board-identity table, board data) made inside are the command's own and
vanish with it. /dev holds null, zero, urandom and tty of the host. An
ordinary user gets it inside a user namespace of its own, so the host must
allow unprivileged user namespaces; without them $me says which setting
forbids them.
Exit status: COMMAND's, 1 when the sandbox cannot be made, 2 for a wrong
command line.

Options:
  -h, --help     show this help
  -V, --version  show the version

Examples:
  $me ctest --test-dir build
  $me sh -c 'zbhost & sleep 0.2; pelk ping --count 1000; kill \$!'
  $me python3 -m pytest tests/
EOF
}

if [ -z "${PELK_SANDBOXED:-}" ]; then
    case ${1:-} in
        -h | --help) help; exit 0 ;;
        -V | --version)
            case $version in @*) version="(not built)" ;; esac
            echo "$me $version"
            exit 0
            ;;
        --) shift ;;
        -?*)
            echo "$me: unknown option $1 (see $me --help)" >&2
            exit 2
            ;;
    esac
    if [ $# -eq 0 ]; then
        help >&2
        exit 2
    fi
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
