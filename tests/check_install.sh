#!/usr/bin/env bash
# Installs the build tree twice and checks what lands where:
# - into a scratch prefix: a small consumer builds against it with
#   find_package(pelk) and with pkg-config and runs; so do the programs;
# - with DESTDIR and the prefix /usr given only when installing: the
#   library in the multiarch folder, the section-8 programs in sbin, the
#   unit where systemd looks naming /usr/sbin/zbhost (and hardened:
#   check_unit.sh), the Python package where Debian's python3 looks;
# and in both no installed file carries a RUNPATH.
#   check_install.sh BUILD LIBDIR USR_UNIT_DIR
set -euo pipefail
build=$1
libdir=$2
usr_unit_dir=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
root=$scratch/root

cmake --install "$build" --prefix "$prefix" >/dev/null
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
expected="consumer: PKERR_TIMEOUT               |"

cmake -S "$here/install" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
[ "$(LD_LIBRARY_PATH="$prefix/$libdir" "$scratch/cmake/consumer")" = "$expected" ]

flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs pelk)
# shellcheck disable=SC2086
g++ -std=c++11 -Wall -Wextra -Werror "$here/install/consumer.cpp" $flags -o "$scratch/consumer-pc"
[ "$(LD_LIBRARY_PATH="$prefix/$libdir" "$scratch/consumer-pc")" = "$expected" ]

LD_LIBRARY_PATH="$prefix/$libdir" "$prefix/bin/pelk" errtext -2 | grep PKERR_TIMEOUT >/dev/null
"$prefix/sbin/oamtab" --help >/dev/null
"$prefix/sbin/zbhost" --help >/dev/null
grep -qx "ExecStart=$prefix/sbin/zbhost" "$prefix/lib/systemd/system/zbhost.service"
[ "$("$prefix/bin/pelk-sandbox" --version)" = "$("$prefix/sbin/zbhost" --version | sed s/zbhost/pelk-sandbox/)" ]

# The README as a user with a prefix of their own follows it, without
# XDG_RUNTIME_DIR: its first program built as it says for such a prefix
# (with the library's run path in it), its steps for the emulator without
# root inside the installed sandbox, with PATH and LD_LIBRARY_PATH as it
# says for the prefix.
readme=$here/../README.md
awk '/^```cpp$/ { keep = 1; next } /^```$/ { keep = 0 } keep' "$readme" >"$scratch/app.cpp"
build=$(grep -m1 '^    g++ app.cpp .*-Wl,-rpath' "$readme")
(cd "$scratch" && PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" bash -c "$build")
steps=$(awk '/^## The emulator without root/ { section = 1 }
             section && /^    / { sub(/^    /, ""); print; found = 1; next }
             found { exit }' "$readme")
grep -q '^zbhost &$' <<<"$steps"
steps=$(sed 's|^zbhost &$|&\nfor _ in $(seq 100); do [ -p "$PELK_EMULATOR_DIR/ZBHostManagerOut" ] \&\& break; sleep 0.05; done|
             s|^kill %1$|./app\n&|' <<<"$steps")
mkdir "$scratch/home"
(cd "$scratch" && "$prefix/bin/pelk-sandbox" env -u XDG_RUNTIME_DIR \
     LD_LIBRARY_PATH="$prefix/$libdir" HOME="$scratch/home" PATH="$prefix/bin:$prefix/sbin:$PATH" \
     bash -e -c "$steps") >"$scratch/steps.out"
grep -q "^status 0, tag 7 came back$" "$scratch/steps.out"
grep -q "^10 round trips" "$scratch/steps.out"

failed=0
where() {  # where FOLDER FIND-TEST...: the installed files that pass lie in FOLDER
    local folder=$1 found
    shift
    found=$(cd "$root" && find . -type f \( "$@" \) -printf '/%h\n' | cut -c3- | sort -u)
    if [ "$found" != "$folder" ]; then
        echo "$* installed in ${found:-nowhere} (want $folder)"
        failed=1
    fi
}
where "/usr/$libdir" -name 'libpelk.so.*'
where "/usr/$libdir/pkgconfig" -name pelk.pc
where /usr/bin -perm -u+x \( -name pelk -o -name pelk-sandbox \)
where /usr/sbin -perm -u+x \( -name oamtab -o -name zbhost \)
where "$usr_unit_dir" -name zbhost.service
if [ -n "$(find "$root" -name '_pelk.cpython-*.so')" ]; then
    where /usr/lib/python3/dist-packages/pelk -name '_pelk.cpython-*.so' -o -name '__init__.py*' -o -name py.typed
fi
"$here/check_unit.sh" "$root$usr_unit_dir/zbhost.service" /usr/sbin/zbhost "$root" || failed=1

while IFS= read -r -d '' file; do
    if readelf -d "$file" 2>/dev/null | grep -E '\((RUNPATH|RPATH)\)'; then
        echo "$file carries a search path"
        failed=1
    fi
done < <(find "$prefix" "$root" -type f -print0)
[ $failed -eq 0 ] && echo "installed package works with find_package and pkg-config; the programs and the README's steps run; files in place"
exit $failed
