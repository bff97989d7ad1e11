# shellcheck shell=bash
# Shared by the Windows test scripts (sourced): the simulator and pseudo-
# terminal pairs they start, the COM ports they link in the wine prefix, and
# wine runs with a time limit. Everything started here is stopped by its pid
# when the script exits, and the COM links it made are removed.
#
# Environment (set by tests/windows/CMakeLists.txt):
#   JYN_WINE_RUN     tests/windows/wine-run.sh
#   JYN_WINE_PREFIX  the build's wine prefix
#   JYN_WIN_BIN      the folder of RAVEVUD.dll, TAVORN.dll and jynmb.exe
#   JYN_LINUX_JYNMB  the Linux jynmb, which serves the simulator
#   JYN_WORK         a folder of this test's own (made empty)

set -euo pipefail

: "${JYN_WINE_RUN:?}" "${JYN_WINE_PREFIX:?}" "${JYN_WIN_BIN:?}" "${JYN_WORK:?}"

# Skipped, with the reason wine-run.sh gives, where wine cannot run.
"$JYN_WINE_RUN" "$JYN_WINE_PREFIX" --check || exit $?

# The folder of these scripts and of plant/, for the scripts that source this.
# shellcheck disable=SC2034
jyn_tests_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
jyn_pids=()
jyn_links=()

jyn_cleanup() {
    local pid link
    for pid in "${jyn_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for link in "${jyn_links[@]}"; do
        rm -f "$link"
    done
}
trap jyn_cleanup EXIT

rm -rf "$JYN_WORK"
mkdir -p "$JYN_WORK"
cd "$JYN_WORK"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# wait_for_line FILE PATTERN SECONDS PID: waits until a line of FILE matches
# PATTERN (grep -E); fails when PID ends first or the time is up.
wait_for_line() {
    local file=$1 pattern=$2 seconds=$3 pid=$4
    local deadline=$((SECONDS + seconds))
    until grep -qE "$pattern" "$file" 2>/dev/null; do
        kill -0 "$pid" 2>/dev/null || fail "$(basename "$file"): the process ended: $(cat "$file")"
        [ "$SECONDS" -lt "$deadline" ] || fail "$(basename "$file"): no '$pattern' in ${seconds} s"
        sleep 0.02
    done
}

# start_sim ARGS...: serves the simulator with ARGS on a pseudo-terminal and
# sets sim_port (/dev/pts/N) and sim_log (its standard output).
start_sim() {
    : "${JYN_LINUX_JYNMB:?}"
    [ -x "$JYN_LINUX_JYNMB" ] ||
        fail "no Linux jynmb at $JYN_LINUX_JYNMB: build the linux preset first, or set JYN_LINUX_TOOLS_DIR"
    sim_log=$JYN_WORK/sim.log
    "$JYN_LINUX_JYNMB" sim "$@" >"$sim_log" 2>&1 </dev/null &
    jyn_pids+=($!)
    wait_for_line "$sim_log" '^serving' 20 "$!"
    sim_port=$(sed -n 's/^port: //p' "$sim_log")
    [ -c "$sim_port" ] || fail "the simulator names no device: $(cat "$sim_log")"
}

# start_pty_pair: two pseudo-terminals joined like the ends of a null-modem
# cable; sets pair_a and pair_b (/dev/pts/N).
start_pty_pair() {
    local log=$JYN_WORK/socat.log
    socat -d -d "pty,raw,echo=0,link=$JYN_WORK/pty-a" "pty,raw,echo=0,link=$JYN_WORK/pty-b" \
        >"$log" 2>&1 </dev/null &
    jyn_pids+=($!)
    wait_for_line "$log" 'starting data transfer loop' 20 "$!"
    pair_a=$(readlink -f "$JYN_WORK/pty-a")
    pair_b=$(readlink -f "$JYN_WORK/pty-b")
    if ! [ -c "$pair_a" ] || ! [ -c "$pair_b" ]; then
        fail "socat made no pseudo-terminals: $(cat "$log")"
    fi
}

# link_com N DEVICE: COMn of the wine prefix opens DEVICE.
link_com() {
    local link=$JYN_WINE_PREFIX/dosdevices/com$1
    ln -sfn "$2" "$link"
    jyn_links+=("$link")
}

# no_com N: COMn names no device (without a link of its own, wine would take
# /dev/ttyS<n-1>, which may be a real port).
no_com() {
    link_com "$1" "$JYN_WORK/no-such-device"
}

# wine_run SECONDS PROGRAM ARGS...: runs a Windows program with a time limit.
wine_run() {
    local seconds=$1
    shift
    timeout -k 5 "$seconds" "$JYN_WINE_RUN" "$JYN_WINE_PREFIX" "$@"
}

# run_test_program PROGRAM ARGS...: runs a Windows test program; the driver's
# messages go to driver.log and are shown only when the program fails.
run_test_program() {
    export TAVORN_LOG=$JYN_WORK/driver.log
    local status=0
    wine_run 120 "$@" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "--- the driver's last messages ($TAVORN_LOG):"
        tail -n 40 "$TAVORN_LOG" 2>/dev/null || true
    fi
    return "$status"
}
