#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh, lintian included), installs
# them with dpkg -i and uses them as a newcomer would: the README's first
# program built with pkg-config and with find_package against /usr, run
# against the packaged zbhost inside pelk-sandbox (zbhost also with only the
# capabilities its unit leaves it), pelk imported by /usr/bin/python3 and
# its types found by mypy, pelk through the packaged pelkd, pelk --version,
# man pelk and man pelkd. Then purges the packages and checks that nothing of
# them is left. Run as root, on a machine without them.
#   tests/check_packages.sh [OUTPUT]     (packages kept in OUTPUT, default build/packages)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
output=${1:-$source/build/packages}
packages=(python3-pelk pelkd pelk-tools libpelk-dev libpelk1)
version=$(sed -n 's/^project(pelk VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
scratch=$(mktemp -d)
purge() { dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true; }
trap 'purge; rm -rf "$scratch"' EXIT

step() { echo "--- $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root: the packages are installed on this machine"
purge
step "build the packages"
"$source/scripts/package.sh" "$output"
debs=()
for package in "${packages[@]}"; do
    debs+=("$output/${package}_${version}_$(dpkg --print-architecture).deb")
done
# Every file the packages hold, to check after the purge.
for deb in "${debs[@]}"; do
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|p' | grep -v '/$' >>"$scratch/files"
done

step "install with dpkg -i"
dpkg -i "${debs[@]}" >/dev/null

step "the README's first program, with pkg-config and with find_package"
awk '/^### First program/ {found = 1} found && /^```cpp$/ {take = 1; next}
     take && /^```$/ {exit} take {print}' "$source/README.md" >"$scratch/app.cpp"
grep -q NewPelkLibByType "$scratch/app.cpp" || fail "no first program found in README.md"
# shellcheck disable=SC2046
g++ "$scratch/app.cpp" -o "$scratch/app-pc" $(pkg-config --cflags --libs pelk)
cat >"$scratch/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(app CXX)
find_package(pelk REQUIRED)
add_executable(app app.cpp)
target_link_libraries(app PRIVATE pelk::pelk)
CMAKE
cmake -S "$scratch" -B "$scratch/build" >/dev/null
cmake --build "$scratch/build" >/dev/null

step "run both against the packaged zbhost in pelk-sandbox"
# zbhost as its unit runs it: no capability but CAP_CHOWN, no new
# privileges, umask 0077.
cat >"$scratch/session.sh" <<'SESSION'
set -eu
umask 0077
setpriv --no-new-privs --bounding-set -all,+chown /usr/sbin/zbhost &
zbhost=$!
umask 0022
for _ in $(seq 100); do [ -e /dev/ZBHostManagerIn ] && break; sleep 0.05; done
"$1"
"$2"
/usr/bin/python3 -c '
import pelk
with pelk.Board("zbhost") as board:
    board.send(b"h" * 8, b"data", dst=(1, 0), tag=9)
    answer = board.receive(timeout_ms=1000)
    assert (answer.tag, answer.buffers) == (9, [b"data"]), answer
print("python: tag", answer.tag, "came back")'
PELK_RUNTIME_DIR=/dev/pelk-run /usr/sbin/pelkd >/dev/null &
pelkd=$!
for _ in $(seq 100); do [ -S /dev/pelk-run/pelkd.sock ] && break; sleep 0.05; done
pelk --remote unix:/dev/pelk-run/pelkd.sock ping --driver zbhost --count 3 | grep '^3 round trips'
kill "$pelkd"
wait "$pelkd"
kill "$zbhost"
wait "$zbhost"
SESSION
pelk-sandbox sh "$scratch/session.sh" "$scratch/app-pc" "$scratch/build/app" | tee "$scratch/session"
[ "$(grep -c '^status 0, tag 7 came back$' "$scratch/session")" -eq 2 ] || fail "the first program"
grep -q '^3 round trips' "$scratch/session" || fail "pelk through the packaged pelkd"

step "import pelk and check its types, pelk --version, man pelk"
[ "$(cd / && /usr/bin/python3 -c 'import pelk; print(pelk.__version__)')" = "$version" ] ||
    fail "python3 -c 'import pelk'"
if /usr/bin/python3 -m mypy --version >/dev/null 2>&1; then
    (cd "$scratch" && /usr/bin/python3 -m mypy --no-incremental --strict \
        "$source/python/tests/typing/typed_use.py") || fail "mypy on the installed package"
fi
pelk --version | grep -F "$version" >/dev/null || fail "pelk --version"
MANPAGER=cat MANWIDTH=80 man pelk 2>&1 | grep -E '^NAME' >/dev/null || fail "man pelk"
[ -e /lib/systemd/system/zbhost.service ] || fail "no zbhost.service"
[ -e /lib/systemd/system/pelkd.service ] || fail "no pelkd.service"
MANPAGER=cat MANWIDTH=80 man pelkd 2>&1 | grep -E '^NAME' >/dev/null || fail "man pelkd"

step "purge and look for what is left"
dpkg --purge "${packages[@]}" >/dev/null
left=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null | grep -v '^un ' || true)
[ -z "$left" ] || fail "still known to dpkg: $left"
while read -r file; do
    [ ! -e "$file" ] && [ ! -L "$file" ] || fail "left after the purge: $file"
done <"$scratch/files"
stray=$(find /usr/lib/python3/dist-packages /etc/systemd /var/lib/systemd \
             -name '*pelk*' -o -name '*zbhost*' 2>/dev/null || true)
[ -z "$stray" ] || fail "left after the purge: $stray"
echo "packages built, installed, used and purged without a trace"
