#!/usr/bin/env bash
# Installs the Debian packages the build, tests and tools need, when run as
# root and when any is missing.
set -euo pipefail
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev binutils util-linux mount pkg-config
          clang libclang-rt-14-dev python3 scdoc man-db groff-base passwd tshark
          python3-dev pybind11-dev python3-pytest python3-setuptools python3-wheel python3-pip
          abigail-tools systemd debhelper dh-python dpkg-dev fakeroot lintian mypy python3-venv
          libgrpc++-dev libprotobuf-dev protobuf-compiler protobuf-compiler-grpc openssl)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep 'install ok installed' >/dev/null ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        exit 1
    fi
    apt-get update -qq
    # tshark asks whether non-root users may capture: no (it only reads files here).
    echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
