#!/usr/bin/env bash
# Checks an installed zbhost.service: it names the program ROOT/PROGRAM, it
# keeps the hardening set below, systemd reads every line of it without a
# complaint, and systemd's own rating of its exposure stays at 1.5 or below.
#   check_unit.sh UNIT_FILE PROGRAM ROOT
set -euo pipefail
unit=$1
program=$2
root=$3
failed=0

setting() { sed -n "s/^$1=//p" "$unit"; }
expect() {
    if [ "$(setting "$1")" != "$2" ]; then
        echo "$unit: $1=$(setting "$1" | tr '\n' ' ') (want $2)"
        failed=1
    fi
}

expect ExecStart "$program"
expect User root
expect CapabilityBoundingSet CAP_CHOWN
for yes in NoNewPrivileges ProtectHome PrivateTmp PrivateNetwork PrivateIPC PrivateMounts \
           ProtectKernelTunables ProtectKernelModules ProtectKernelLogs ProtectControlGroups \
           ProtectClock ProtectHostname RestrictNamespaces RestrictRealtime RestrictSUIDSGID \
           LockPersonality MemoryDenyWriteExecute; do
    expect "$yes" yes
done
expect ProtectSystem strict
expect RestrictAddressFamilies AF_UNIX
expect IPAddressDeny any
expect DevicePolicy closed
expect UMask 0077
expect SystemCallArchitectures native
expect SystemCallFilter $'@system-service\n~@resources'

if command -v systemd-analyze >/dev/null; then
    # verify wants the program where ExecStart says: a copy names it in ROOT.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    sed "s|^ExecStart=|ExecStart=$root|" "$unit" >"$scratch/zbhost.service"
    complaints=$(systemd-analyze verify --man=no "$scratch/zbhost.service" 2>&1) || failed=1
    if [ -n "$complaints" ]; then
        echo "$complaints"
        failed=1
    fi
    if ! systemd-analyze security --offline=true --threshold=15 "$unit" >"$scratch/rating" 2>&1; then
        grep -E 'exposure|✗' "$scratch/rating" || cat "$scratch/rating"
        failed=1
    fi
else
    echo "systemd-analyze not found: the unit's syntax and exposure are not rated"
fi
[ $failed -eq 0 ] && echo "zbhost.service: hardened, read by systemd without complaint"
exit $failed
