#!/usr/bin/env bash
# Plants known faults in the source one at a time and tells which ones the
# asan test suite catches.
#
# usage: scripts/mutate.sh [ID...]      (default: every fault in the list)
#
# The list, tests/faults.tsv (or $PELK_FAULTS), has one fault a line with
# tab-separated columns:
#   1 id       a short unique name
#   2 file     repo-relative path of the file to change
#   3 from     source text to replace; must occur exactly once in the file
#   4 to       the replacement text
#   5 why      optional: why no test can observe this fault on this host
# In columns 3 and 4, \t stands for a tab, \n for a newline and \\ for one
# backslash. Blank lines and lines starting with # are skipped.
#
# For each fault: a "from" text that does not occur exactly once is reported
# "stale" and skipped; otherwise the file is changed and the suite runs as CI
# runs it: the asan preset rebuilt and `ctest --preset asan --stop-on-failure`,
# then, when that passes, the tsan preset's multi-thread tests. A failing
# suite means "caught"; a passing one "missed" (or "unobservable" when column
# 5 explains it); a failed asan build "uncompilable" (neither). The file is always
# restored from a saved copy, also on Ctrl-C. Last line: the catch rate over
# the faults that built. Logs of the last fault are in build/mutate/.
set -uo pipefail
cd "$(dirname "$0")/.."
list=${PELK_FAULTS:-tests/faults.tsv}
logs=build/mutate
mkdir -p "$logs"
run() { nice -n 15 "$@"; }

saved=$(mktemp)
mutant=$(mktemp)
target=""
restore() {
    # A plain copy gives the file a new time, so the next build recompiles it.
    if [ -n "$target" ]; then cat "$saved" >"$target"; target=""; fi
}
trap 'restore; rm -f "$saved" "$mutant"' EXIT
trap 'restore; exit 130' INT TERM

# Prints "file<TAB>why" for fault $1 and writes the changed file to $2, or
# exits 3 when its text is stale, 4 when the id is not in the list.
plant() {
    /usr/bin/python3 - "$list" "$1" "$2" <<'EOF'
import re, sys
unescape = lambda s: re.sub(r'\\(\\|t|n)', lambda m: {'\\': '\\', 't': '\t', 'n': '\n'}[m.group(1)], s)
for line in open(sys.argv[1], encoding='utf-8'):
    cols = line.rstrip('\n').split('\t')
    if line.startswith('#') or len(cols) < 4 or cols[0] != sys.argv[2]:
        continue
    text = open(cols[1], encoding='utf-8').read()
    old, new = unescape(cols[2]), unescape(cols[3])
    if text.count(old) != 1:
        sys.exit(3)
    open(sys.argv[3], 'w', encoding='utf-8').write(text.replace(old, new))
    print(cols[1] + '\t' + (cols[4] if len(cols) > 4 else ''))
    sys.exit(0)
sys.exit(4)
EOF
}

if [ $# -gt 0 ]; then
    ids=("$@")
else
    mapfile -t ids < <(grep -v -e '^#' -e '^[[:space:]]*$' "$list" | cut -f1)
fi

for preset in asan tsan; do
    run cmake --preset $preset >"$logs/configure.log" 2>&1 || { echo "configure failed"; exit 1; }
    run cmake --build --preset $preset -j2 >"$logs/build.log" 2>&1 || { echo "clean build failed"; exit 1; }
done

# The suite with the planted fault: every test under asan, then the
# multi-thread tests under tsan, which alone sees a lock dropped.
suite_passes() {
    run ctest --preset asan --stop-on-failure --timeout 120 >"$logs/ctest.log" 2>&1 &&
        run cmake --build --preset tsan -j2 >"$logs/build.log" 2>&1 &&
        run ctest --preset tsan --stop-on-failure --timeout 120 >"$logs/ctest.log" 2>&1
}

caught=0 built=0
missed=()
for id in "${ids[@]}"; do
    info=$(plant "$id" "$mutant")
    case $? in
        0) ;;
        3) echo "$id: stale (text not found exactly once)"; continue ;;
        *) echo "$id: no such fault in $list"; continue ;;
    esac
    file=${info%%$'\t'*}
    why=${info#*$'\t'}
    cp "$file" "$saved"
    target=$file
    cat "$mutant" >"$file"
    if ! run cmake --build --preset asan -j2 >"$logs/build.log" 2>&1; then
        restore
        echo "$id: uncompilable ($file)"
        continue
    fi
    built=$((built + 1))
    if suite_passes; then
        restore
        if [ -n "$why" ]; then
            echo "$id: unobservable ($file): $why"
        else
            echo "$id: MISSED ($file)"
        fi
        missed+=("$id")
    else
        restore
        how=$(grep -m1 -E 'Test +#[0-9]+: .*\*\*\*' "$logs/ctest.log" |
              sed -E 's/.*Test +#[0-9]+: ([^ ]+) [. ]*\*\*\*([A-Za-z: ]*[A-Za-z]).*/\1 (\2)/')
        echo "$id: caught by ${how:-ctest}"
        caught=$((caught + 1))
    fi
done
if [ "$built" -gt 0 ]; then
    echo "caught $caught of $built ($((100 * caught / built))%)"
    [ ${#missed[@]} -eq 0 ] || echo "not caught: ${missed[*]}"
fi
