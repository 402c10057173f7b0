#!/usr/bin/env bash
# Compares the ABI of libpelk.so (the exported functions and variables and
# every type they reach) with the baseline kept in the tree, using abidiff
# from abigail-tools: any difference fails, so that an ABI change is made on
# purpose. SUPPRESSIONS names what is left out of the comparison. With
# --update, writes the library's ABI as the new baseline.
#   check_abi.sh LIBRARY BASELINE SUPPRESSIONS [--update]
set -euo pipefail
library=$1
baseline=$2
suppressions=$3

if [ "${4:-}" = --update ]; then
    abidw --exported-interfaces-only --no-corpus-path --no-comp-dir-path --no-show-locs \
          --no-parameter-names --type-id-style hash --out-file "$baseline" "$library"
    echo "wrote $baseline"
    exit 0
fi
status=0
abidiff --suppressions "$suppressions" "$baseline" "$library" || status=$?
if [ $status -eq 0 ]; then
    echo "ABI matches $(basename "$baseline")"
    exit 0
fi
# abidiff's status is a bit set: 4 a change, 8 an incompatible one.
if [ $((status & 8)) -ne 0 ]; then
    echo "the ABI changed incompatibly: a new SONAME, or undo the change"
elif [ $((status & 4)) -ne 0 ]; then
    echo "the ABI changed compatibly: record it with cmake --build BUILD --target abi_baseline"
else
    echo "abidiff failed with status $status"
fi
exit 1
