#!/usr/bin/env bash
# Installs what building and testing JYNMB needs on Debian 12, as root.
# Packages that are already there are left alone.
set -euo pipefail

packages=(
    cmake make g++ gcc git
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    gcc-multilib g++-multilib
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    wine wine32:i386
    socat valgrind python3
)

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root (apt-get is needed)" >&2
    exit 2
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: everything is installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
