#!/usr/bin/env bash
# Renders each manual page as man would show it and fails on any warning
# from groff or man (bad requests, lines that cannot be broken, ...).
set -euo pipefail
failed=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ] || ! MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q NAME; then
        echo "$page:"
        echo "$warnings"
        failed=1
    fi
done
exit $failed
