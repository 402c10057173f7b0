#!/usr/bin/env bash
# Runs scripts/demo.sh once as an ordinary user, as a new user of the
# project would: creates the system user pelk-demo when it is missing and
# runs the demo from a copy of the tree that user owns (this checkout may
# lie where that user cannot read, such as /root). Must run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
user=pelk-demo
if [ "$(id -u)" -ne 0 ]; then
    echo "demo_as_user.sh: run as root (it creates the user $user)" >&2
    exit 1
fi
id -u "$user" >/dev/null 2>&1 ||
    useradd --system --user-group --no-create-home --shell /usr/sbin/nologin "$user"

copy=$(mktemp -d /tmp/pelk-demo.XXXXXX)
trap 'rm -rf "$copy"' EXIT
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$copy"
chown -R "$user:$user" "$copy"
echo "=== the demo as the ordinary user $user, from $copy ==="
runuser -u "$user" -- env HOME="$copy" "$copy/scripts/demo.sh"
