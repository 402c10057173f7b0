#!/usr/bin/env bash
# The layering check passes on the tree and fails on a copy of one layer
# that includes a layer above it, naming the file.
# usage: check_layering.sh SOURCE_DIR LAYER_TABLE
set -euo pipefail
source=$1 table=$2
check() { cmake -DROOT="$1" -DLAYERS="$table" -P "$source/cmake/check_layers.cmake"; }

check "$source"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/unix"
printf '#include "unix/pelklib.h"\n#include "front/resolution.h"\n' >"$scratch/unix/wrong.cpp"
if output=$(check "$scratch" 2>&1); then
    echo "a wrong-way include passed the check" >&2
    exit 1
fi
grep -q 'unix/wrong.cpp: #include "front/resolution.h"' <<<"$output" || {
    echo "the check did not name the wrong include:" >&2
    echo "$output" >&2
    exit 1
}
