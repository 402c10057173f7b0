#!/usr/bin/env bash
# Builds the Debian packages libpelk1, libpelk-dev, pelk-tools, pelkd and
# python3-pelk from a copy of this tree (its files known to git, changes
# included) and checks them with lintian, which must report no error.
# Writes only into OUTPUT (default build/packages): the packages, their
# .changes and .buildinfo, and lintian's report.
#   scripts/package.sh [OUTPUT]
# DEB_BUILD_OPTIONS defaults to "nocheck" (the tests run in scripts/test.sh);
# set it, to "" for instance, to run the tests in the package build too.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
output=$(mkdir -p "${1:-$source/build/packages}" && cd "${1:-$source/build/packages}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/pelklib

"$source/scripts/copy_tree.sh" "$copy"
date=$(git -C "$source" log -1 --format=%cD 2>/dev/null || date -R)

# The version is the project's (CMakeLists.txt); the changelog is made here.
version=$(sed -n 's/^project(pelk VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
maintainer=$(sed -n 's/^Maintainer: //p' "$source/debian/control")
cat >"$copy/debian/changelog" <<CHANGELOG
pelklib ($version) unstable; urgency=medium

  * Release $version; its changes are in /usr/share/doc/libpelk1/NEWS.gz.

 -- $maintainer  $date
CHANGELOG

export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS-nocheck}
profiles=()
case " $DEB_BUILD_OPTIONS " in *" nocheck "*) profiles=(-Pnocheck) ;; esac
(cd "$copy" && dpkg-buildpackage -b -us -uc "-j$(nproc)" "${profiles[@]}") >"$scratch/build.log" 2>&1 ||
    { tail -50 "$scratch/build.log"; echo "package build failed" >&2; exit 1; }

changes=$scratch/pelklib_${version}_$(dpkg --print-architecture).changes
rm -f "$output"/*.deb "$output"/*.changes "$output"/*.buildinfo
cp "$scratch"/*.deb "$scratch"/*.buildinfo "$changes" "$output"/
# lintian: errors fail; the warnings and notes that remain are printed.
lintian --fail-on error --display-info "$output/$(basename "$changes")" | tee "$output/lintian.txt"
echo "packages of pelklib $version in $output:"
(cd "$output" && ls ./*.deb)
