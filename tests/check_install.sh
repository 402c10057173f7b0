#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, then builds a small consumer
# against it twice, with find_package(pelk) and with pkg-config, and runs both.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
expected="consumer: PKERR_TIMEOUT               |"

cmake -S "$here/install" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
[ "$(LD_LIBRARY_PATH="$prefix/lib" "$scratch/cmake/consumer")" = "$expected" ]

flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs pelk)
# shellcheck disable=SC2086
g++ -std=c++11 -Wall -Wextra -Werror "$here/install/consumer.cpp" $flags -o "$scratch/consumer-pc"
[ "$(LD_LIBRARY_PATH="$prefix/lib" "$scratch/consumer-pc")" = "$expected" ]

# The programs run from the prefix, pelk finding the library beside it.
"$prefix/bin/pelk" errtext -2 | grep -q PKERR_TIMEOUT
"$prefix/bin/oamtab" --help >/dev/null
"$prefix/bin/zbhost" --help >/dev/null
[ "$("$prefix/bin/pelk-sandbox" --version)" = "$("$prefix/bin/zbhost" --version | sed s/zbhost/pelk-sandbox/)" ]

# The README as a user with a prefix of their own follows it, without
# XDG_RUNTIME_DIR: its first program built as it says for such a prefix
# (found through its run path alone), its steps for the emulator without
# root, inside the installed sandbox.
readme=$here/../README.md
awk '/^```cpp$/ { keep = 1; next } /^```$/ { keep = 0 } keep' "$readme" >"$scratch/app.cpp"
build=$(grep -m1 '^    g++ app.cpp .*-Wl,-rpath' "$readme")
(cd "$scratch" && PKG_CONFIG_PATH="$prefix/lib/pkgconfig" bash -c "$build")
steps=$(awk '/^## The emulator without root/ { section = 1 }
             section && /^    / { sub(/^    /, ""); print; found = 1; next }
             found { exit }' "$readme")
grep -q '^zbhost &$' <<<"$steps"
steps=$(sed 's|^zbhost &$|&\nfor _ in $(seq 100); do [ -p "$PELK_EMULATOR_DIR/ZBHostManagerOut" ] \&\& break; sleep 0.05; done|
             s|^kill %1$|./app\n&|' <<<"$steps")
mkdir "$scratch/home"
(cd "$scratch" && "$prefix/bin/pelk-sandbox" env -u XDG_RUNTIME_DIR -u LD_LIBRARY_PATH \
     HOME="$scratch/home" PATH="$prefix/bin:$PATH" bash -e -c "$steps") >"$scratch/steps.out"
grep -q "^status 0, tag 7 came back$" "$scratch/steps.out"
grep -q "^10 round trips" "$scratch/steps.out"
echo "installed package works with find_package and pkg-config; the programs and the README's steps run"
