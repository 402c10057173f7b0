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
echo "installed package works with find_package and pkg-config; the programs run"
