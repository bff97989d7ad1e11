#!/usr/bin/env bash
# Runs a program of the Windows build under wine, in the build's own wine
# prefix, so no test touches ~/.wine and every run sees the same COM ports.
#
#   wine-run.sh PREFIX PROGRAM [ARGS...]   run PROGRAM (the cross build's emulator)
#   wine-run.sh PREFIX --prepare           make the prefix once, keep its server up
#   wine-run.sh PREFIX --stop              shut the prefix's server down
#
# The prefix is made once (wineboot -i) under a lock, as ctest may start
# several programs at once. --prepare keeps one wineserver running for the
# whole test run: without it every program that starts after a pause pays
# for a new server and its services.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: wine-run.sh PREFIX PROGRAM [ARGS...] | --prepare | --stop" >&2
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

case $1 in
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
