#!/usr/bin/env bash
# Installs what building and testing JYNMB needs on Debian 12, as root.
# Packages that are already there are left alone.
#
#   install-deps.sh          the packages every machine can use
#   install-deps.sh --wine   wine and its 32-bit half, for the Windows tests;
#                            only worth it where 32-bit programs run natively
#   install-deps.sh --wine-root
#                            mmdebstrap, which makes the root with unstable's
#                            WoW64 wine (tools/wine-root.sh) where they do not
#
# Nothing here touches binfmt_misc or any other kernel setting: qemu-user is
# installed without its recommended qemu-user-binfmt, which would register
# system-wide handlers for foreign programs.
set -euo pipefail

base=(
    cmake make g++ gcc git
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    gcc-multilib g++-multilib qemu-user
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    socat valgrind python3
    dpkg-dev lintian help2man cmark-gfm unzip icoutils
)
wine=(wine wine32:i386)
wine_root=(mmdebstrap debian-archive-keyring)

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root (apt-get is needed)" >&2
    exit 2
fi

packages=("${base[@]}")
case ${1:-} in
"") ;;
--wine) packages=("${wine[@]}") ;;
--wine-root) packages=("${wine_root[@]}") ;;
*)
    echo "install-deps: unknown option '$1' (--wine or --wine-root)" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: ${packages[*]}: installed"
    exit 0
fi

# The i386 architecture only for wine: every apt-get update then fetches its
# package lists too, and a mirror half-way through a sync of them would make
# the update fail for machines that never needed them.
if [ "${1:-}" = "--wine" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

# A mirror in the middle of a sync makes one list fail now and then; the
# lists that did arrive are usually enough, so a failed update is retried
# and then reported, and the install itself decides.
update() {
    local attempt
    for attempt in 1 2 3; do
        if apt-get update -q; then return 0; fi
        echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
        sleep $((attempt * 5))
    done
    echo "install-deps: going on with the package lists apt-get has" >&2
}

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
update
apt-get install -y -q --no-install-recommends "${missing[@]}"
