#!/usr/bin/env bash
# Compares the dynamic symbol table of a shared object with a list of the
# names it must export: every listed name present, nothing else exported
# unless it matches one of the list's patterns.
set -euo pipefail
# (grep reads its whole input below: with -q it may stop early, and the
# writer's SIGPIPE would then fail the pipeline under pipefail.)
library=$1
list=$2

mapfile -t exported < <(nm -D --defined-only "$library" | awk '{print $3}' | sort -u)
mapfile -t required < <(grep -vE '^(#|~|$)' "$list")
mapfile -t patterns < <(grep -E '^~' "$list" | cut -c2-)

failed=0
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
