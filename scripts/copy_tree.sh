#!/usr/bin/env bash
# Copies the source tree to DEST as a fresh clone would have it with the
# current changes: the files git knows or would add (none it ignores, such
# as build/); outside git, everything but build/.
#   scripts/copy_tree.sh DEST
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # (A file deleted but not yet committed is listed yet missing: skipped.)
    git -C "$source" ls-files -z --cached --others --exclude-standard |
        (cd "$source" && xargs -0 cp --parents -t "$1" 2>/dev/null || true)
else
    tar -C "$source" --exclude=./build -cf - . | tar -C "$1" -xf -
fi
