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
# JYN_WINE (set by tools/test-all.sh) says which wine runs the programs:
#   native  the machine's own wine (Debian 12's needs a kernel that runs
#           32-bit programs)
#   chroot  unstable's WoW64 wine in the root tools/wine-root.sh keeps in
#           JYN_WINE_ROOT, entered in a private mount namespace with the
#           prefix's folder, the program's and the current one bound in
#   none    none: every test skips
# Unset: the machine's wine where it is installed, else a root already made.
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
unset DISPLAY WAYLAND_DISPLAY

wine_root_sh=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-root.sh
how=${JYN_WINE:-}
if [ -z "$how" ]; then
    how=native
    if ! command -v wine >/dev/null && "$wine_root_sh" check >/dev/null 2>&1; then how=chroot; fi
fi
# WoW64 wine makes 64-bit prefixes only, and runs 32-bit programs in them.
if [ "$how" = native ]; then export WINEARCH=win32; fi

# in_wine COMMAND [ARGS...]: runs one of wine's commands (wine, wineboot,
# wineserver) with the wine chosen. No process stands between this script
# and the command, so timeout's signals reach wine itself.
in_wine() {
    if [ "$how" != chroot ]; then
        exec "$@"
    fi
    local -a binds=(--bind "$(dirname "$prefix")")
    if [[ $1 == wine && ${2:-} == /* && -f ${2:-} ]]; then binds+=(--bind "$(dirname "$2")"); fi
    exec "$wine_root_sh" run "${binds[@]}" -- "$@"
}

# A server left over after the last client goes lingers this long (seconds),
# so an interrupted run cleans up by itself.
readonly server_linger=60

make_prefix() {
    mkdir -p "$(dirname "$prefix")"
    (
        flock -w 300 9 || { echo "wine-run: no lock on $prefix.lock" >&2; exit 2; }
        # A prefix of another wine is made anew.
        if [ "$(cat "$prefix/.jyn-ready" 2>/dev/null)" != "$wine_made" ]; then
            rm -rf "$prefix"
            # Closed fd 9: the server it starts must not keep the lock.
            if ! (in_wine wineboot -i) >"$prefix.log" 2>&1 9>&-; then
                echo "wine-run: wineboot -i failed; see $prefix.log" >&2
                exit 2
            fi
            (in_wine wineserver -w) 9>&-
            echo "$wine_made" >"$prefix/.jyn-ready"
        fi
    ) 9>"$prefix.lock"
}

# Exit code ctest takes for "skipped" (SKIP_RETURN_CODE in the CMake files).
readonly skip_code=77

# Why wine cannot run here, or nothing. Debian 12's wine runs Windows
# programs as 32-bit Linux processes: a kernel without IA-32 emulation
# refuses them, and wine under user-mode emulation is far too slow and
# fragile to test with. The WoW64 wine of the root needs no such kernel.
# JYN_WINE_SKIP (set by tools/test-all.sh) gives a reason found beforehand.
wine_unusable() {
    if [ -n "${JYN_WINE_SKIP:-}" ]; then
        echo "$JYN_WINE_SKIP"
    elif [ "$how" = none ]; then
        echo "no wine was chosen (JYN_WINE=none)"
    elif [ "$how" = chroot ]; then
        local why
        why=$("$wine_root_sh" check 2>&1) || echo "${why#wine-root: }"
    elif [ "$how" != native ]; then
        echo "JYN_WINE must be native, chroot or none, not '$how'"
    elif ! command -v wine >/dev/null; then
        echo "wine is not installed (tools/install-deps.sh --wine installs it)"
    elif ! version=$(timeout 60 wine --version 2>&1 </dev/null); then
        echo "wine cannot start here: $(echo "$version" | tail -n 1)"
    fi
}

# The processes of the prefix: wine hands the prefix to every process it
# starts, the server and the Windows programs alike. The pipeline's own
# commands run without it: a `cut` started while grep walks /proc would
# otherwise be found as a process of the prefix, on every call.
prefix_processes() {
    (
        unset WINEPREFIX
        grep -lxzF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null |
            grep -vx "/proc/$$/environ" | cut -d/ -f3
    ) || true
}

# stop_server: ends the prefix's server and with it every program of the
# prefix, and fails when any process of the prefix is still there after it.
stop_server() {
    local left deadline=$((SECONDS + 20))
    if [ -d "$prefix" ]; then
        (in_wine wineserver -k) 2>/dev/null || true
        (in_wine timeout 20 wineserver -w) 2>/dev/null || true
    fi
    while left=$(prefix_processes) && [ -n "$left" ]; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "wine-run: processes of $prefix are still running:" >&2
            ps -o pid,args -p "$(paste -sd, <<<"$left")" >&2 || true
            return 1
        fi
        sleep 0.1
    done
}

wine_made=$how
reason=$(wine_unusable)
if [ "$how" = chroot ] && [ -z "$reason" ]; then wine_made="chroot $("$wine_root_sh" check)"; fi
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
    (in_wine wineserver -p"$server_linger") </dev/null >/dev/null 2>&1 || true
    # Start the prefix's services now, outside any test.
    (in_wine wine cmd /c exit) </dev/null >/dev/null 2>&1 || true
    echo "wine: $wine_made"
    ;;
--stop)
    stop_server
    ;;
*)
    make_prefix
    in_wine wine "$@"
    ;;
esac
