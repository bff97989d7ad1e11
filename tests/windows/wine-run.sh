#!/usr/bin/env bash
# Runs a program of the Windows build under wine, in the build's own wine
# prefix, so no test touches ~/.wine and every run sees the same COM ports.
#
#   wine-run.sh PREFIX PROGRAM [ARGS...]   run PROGRAM (the cross build's emulator)
#   wine-run.sh PREFIX --prepare           make the prefix once, keep its server up
#   wine-run.sh PREFIX --stop              shut the prefix's server down
#   wine-run.sh PREFIX --check             exit 0 if wine can run here
#
# Where wine cannot run (no wine, or a kernel that runs no 32-bit programs),
# every mode but --stop prints the reason and exits 77, which ctest reports
# as skipped.
#
# The prefix is made once (wineboot -i) under a lock, as ctest may start
# several programs at once. --prepare keeps one wineserver running for the
# whole test run: without it every program that starts after a pause pays
# for a new server and its services.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: wine-run.sh PREFIX PROGRAM [ARGS...] | --prepare | --stop | --check" >&2
    exit 2
fi
prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installers and no menu entries in the user's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY

# A server left over after the last client goes lingers this long (seconds),
# so an interrupted run cleans up by itself.
readonly server_linger=60

make_prefix() {
    mkdir -p "$(dirname "$prefix")"
    (
        flock -w 300 9 || { echo "wine-run: no lock on $prefix.lock" >&2; exit 2; }
        if [ ! -f "$prefix/.jyn-ready" ]; then
            rm -rf "$prefix"
            # Closed fd 9: the server it starts must not keep the lock.
            if ! wineboot -i >"$prefix.log" 2>&1 9>&-; then
                echo "wine-run: wineboot -i failed; see $prefix.log" >&2
                exit 2
            fi
            wineserver -w 9>&-
            touch "$prefix/.jyn-ready"
        fi
    ) 9>"$prefix.lock"
}

# Exit code ctest takes for "skipped" (SKIP_RETURN_CODE in the CMake files).
readonly skip_code=77

# Why wine cannot run here, or nothing. wine runs Windows programs as 32-bit
# Linux processes: a kernel without IA-32 emulation refuses them, and wine
# under user-mode emulation is far too slow and fragile to test with.
# JYN_WINE_SKIP (set by tools/test-all.sh) gives a reason found beforehand.
wine_unusable() {
    if [ -n "${JYN_WINE_SKIP:-}" ]; then
        echo "$JYN_WINE_SKIP"
    elif ! command -v wine >/dev/null; then
        echo "wine is not installed (tools/install-deps.sh --wine installs it)"
    elif ! version=$(timeout 60 wine --version 2>&1 </dev/null); then
        echo "wine cannot start here: $(echo "$version" | tail -n 1)"
    fi
}

reason=$(wine_unusable)
if [ -n "$reason" ]; then
    if [ "$1" = --stop ]; then exit 0; fi
    echo "skipped: $reason"
    exit "$skip_code"
fi

case $1 in
--check) ;;
--prepare)
    make_prefix
    # Detached from ctest's pipes: a server holding them would keep the
    # test that started it from ending.
    wineserver -p"$server_linger" </dev/null >/dev/null 2>&1 || true
    # Start the prefix's services now, outside any test.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
--stop)
    if [ -d "$prefix" ]; then wineserver -k 2>/dev/null || true; fi
    ;;
*)
    make_prefix
    exec wine "$@"
    ;;
esac
