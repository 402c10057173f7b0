#!/usr/bin/env bash
# Compares the dynamic symbol table of a shared object with a list of the
# names it must export: every listed name present, nothing else exported
# unless it matches one of the list's patterns, and every name under a
# version of the library's own (PELK_...).
set -euo pipefail
# (grep reads its whole input below: with -q it may stop early, and the
# writer's SIGPIPE would then fail the pipeline under pipefail.)
library=$1
list=$2

# (Type A lines are the version nodes themselves.)
symbols=$(nm -D --defined-only "$library" | awk '$2 != "A" {print $3}')
mapfile -t exported < <(sed 's/@.*//' <<<"$symbols" | sort -u)
mapfile -t unversioned < <(grep -v '@@PELK_[0-9.]*$' <<<"$symbols")
mapfile -t required < <(grep -vE '^(#|~|$)' "$list")
mapfile -t patterns < <(grep -E '^~' "$list" | cut -c2-)

failed=0
for name in "${unversioned[@]}"; do
    echo "export without a PELK_ version: $name"
    failed=1
done
for name in "${required[@]}"; do
    if ! printf '%s\n' "${exported[@]}" | grep -xF "$name" >/dev/null; then
        echo "missing export: $name"
        failed=1
    fi
done
for name in "${exported[@]}"; do
    printf '%s\n' "${required[@]}" | grep -xF "$name" >/dev/null && continue
    allowed=0
    for pattern in "${patterns[@]}"; do
        if [[ $name =~ $pattern ]]; then allowed=1; break; fi
    done
    if [ $allowed -eq 0 ]; then
        echo "unexpected export: $name"
        failed=1
    fi
done
[ $failed -eq 0 ] && echo "exports match (${#exported[@]} symbols)"
exit $failed
