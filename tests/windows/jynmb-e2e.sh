#!/usr/bin/env bash
# jynmb.exe reads and writes gates of every kind through RAVEVUD.dll under
# wine, on COM1 linked to the simulator: an ACPU (station 01) and an AnACPU
# (station 02) on one line, as plant/JYNMB01.INT configures both sides.
# shellcheck source=tests/windows/lib.sh
source "$(dirname "$0")/lib.sh"

cp "$jyn_tests_dir/plant/JYNMB01.INT" "$JYN_WORK/"
start_sim --init "$jyn_tests_dir/plant/JYNMB01.INT" --preset "$jyn_tests_dir/plant/plant.preset" --trace
link_com 1 "$sim_port"
no_com 9
jynmb=$JYN_WIN_BIN/jynmb.exe
passed=0

# jynmb_run NAME ARGS...: runs jynmb.exe; its output in NAME.out and NAME.err,
# its exit code in status, its duration in elapsed_ms.
jynmb_run() {
    local name=$1
    shift
    local start
    start=$(date +%s%N)
    status=0
    wine_run 60 "$jynmb" "$@" >"$name.out" 2>"$name.err" || status=$?
    elapsed_ms=$((($(date +%s%N) - start) / 1000000))
}

# Each line of the table as jynmb prints it (blanks squeezed) must be there.
expect_lines() {
    local name=$1 table=$2 line
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        tr -d '\r' <"$name.out" | tr -s ' ' | grep -qxF -- "$line" ||
            fail "$name: no line '$line' in:"$'\n'"$(cat "$name.out" "$name.err")"
        passed=$((passed + 1))
    done <<<"$table"
}

expect_status() {
    [ "$status" -eq "$2" ] || fail "$1: exit code $status, not $2:"$'\n'"$(cat "$1.out" "$1.err")"
    passed=$((passed + 1))
}

# Reads of what plant.preset put in both stations.
reads="\
01BM10 bit 1
02BX1F bit 1
01BM11 bit 0
01WD100 word 4660 (0x1234)
02WD100 word 4660 (0x1234)
02WW001A word 43981 (0xABCD)
01WZ300 32-bit 305419896 (0x12345678)
02WZ300 32-bit 305419896 (0x12345678)
01WS0400L5 string \"HELLO\"
02WS0400L4 string \"HELL\"
01WD100*3 word [4660 (0x1234), 2 (0x0002), 65535 (0xFFFF)]
02WZ300*2 32-bit [305419896 (0x12345678), 0 (0x00000000)]"
mapfile -t gates < <(cut -d' ' -f1 <<<"$reads")
jynmb_run preset read --port COM1 --timeout 20 "${gates[@]}"
expect_status preset 0
expect_lines preset "$reads"

# Writes of every kind, single and block, on both stations, read back.
writes="\
01BM20=1 bit 1
02BY21=1 bit 1
01WD110=0xBEEF word 48879 (0xBEEF)
02WD110=32769 word 32769 (0x8001)
01WZ310=0x0A0B0C0D 32-bit 168496141 (0x0A0B0C0D)
02W2020=0x01020304 32-bit 16909060 (0x01020304)
01WS0410L6=WORLD! string \"WORLD!\"
02WR0500L3=ABC string \"ABC\"
02WD120*3=1,2,3 word [1 (0x0001), 2 (0x0002), 3 (0x0003)]
01WZ320*2=1,0x7FFFFFFF 32-bit [1 (0x00000001), 2147483647 (0x7FFFFFFF)]"
mapfile -t gates < <(cut -d' ' -f1 <<<"$writes")
jynmb_run write write --port COM1 --timeout 20 "${gates[@]}"
expect_status write 0
jynmb_run readback read --port COM1 --timeout 20 "${gates[@]%%=*}"
expect_lines readback "$(sed 's/^\([^=]*\)=[^ ]* /\1 /' <<<"$writes")"

# The AnACPU got the extended commands, the ACPU the short ones.
for command in "WR st 01" "BW st 01" "WW st 01" "QR st 02" "JR st 02" "QW st 02" "JW st 02"; do
    grep -qF "$command" "$sim_log" || fail "no '$command' request on the line"
    passed=$((passed + 1))
done

# A station that is not on the line: ten attempts, each one reply time-out
# (10 units: 100 ms) long, then 2.
jynmb_run silent read --port COM1 --timeout 10 09WD100
expect_status silent 2
expect_lines silent "09WD100 word failed (2): JYNMB> DoRead() Read reply error (len=0), retry 10"
[ "$elapsed_ms" -ge 1000 ] || fail "silent: gave up after $elapsed_ms ms, before 10 time-outs of 100 ms"
[ "$elapsed_ms" -lt 8000 ] || fail "silent: took $elapsed_ms ms for 10 time-outs of 100 ms"
passed=$((passed + 1))

# The null device opens without settings, takes writes and never answers.
jynmb_run nul write --port NUL --timeout 5 01WD100=1
expect_status nul 2
grep -q "JYNMB> OpenCom() exited OK, file handle" nul.err || fail "nul: not opened:"$'\n'"$(cat nul.err)"
passed=$((passed + 1))

# A port that names no device.
jynmb_run noport read --port COM9 01WD100
expect_status noport 2
grep -qF "JYNMB> OpenCom() exited with error" noport.err || fail "noport:"$'\n'"$(cat noport.err)"
grep -qF "JYNMB> ColdStart() unable to open COM9 port" noport.err || fail "noport:"$'\n'"$(cat noport.err)"
passed=$((passed + 1))

echo "$passed passed, 0 failed"
