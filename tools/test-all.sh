#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
#   linux      the native build, with the end-to-end tests, the fault soak,
#              memcheck and the benchmark smoke runs
#   linux-m32  the driver's unit tests on the host's 32-bit record layout:
#              natively, under qemu-i386 where the kernel runs no 32-bit
#              programs, or built only (its layout checks are compile-time)
#              where neither can run them
#   asan       AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan       ThreadSanitizer: the multi-line run (four lines at once) and
#              the tests of the state the instances share; any report fails
#   fuzz       smoke runs of the fuzzers
#   mingw-i686 the Windows DLLs and jynmb.exe, tested under the machine's
#              wine or unstable's WoW64 wine in a root of its own (see
#              choose_wine); where neither starts, the tests that need wine
#              skip themselves, with the reason
#   package    the .deb from the linux build and the Windows zip from the
#              mingw-i686 build, made with cpack and checked by
#              tools/check-packages.sh (files, lintian, version records, and
#              jynmb run from the unpacked .deb)
#
# Every stage runs even when an earlier one failed. The end is a table of the
# stages, the skipped tests with their reasons, and as the very last line
# "N passed, M failed, K skipped". The exit code is 0 only if no stage failed.
#
# JYN_32BIT=native|emulated|none overrides what tools/probe-32bit.sh finds,
# so that the emulated and the no-32-bit paths can be tried on any machine;
# JYN_WINE=native|chroot|none does the same for the Windows stage's wine.
#
#   test-all.sh [STAGE...]   runs the stages named (all of them by default);
#                            mingw-i686 needs the linux stage's build/linux
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

only=("$@")
for stage in "${only[@]}"; do
    case $stage in
    linux | linux-m32 | asan | tsan | fuzz | mingw-i686 | package) ;;
    *)
        echo "test-all: no stage '$stage' (linux linux-m32 asan tsan fuzz mingw-i686 package)" >&2
        exit 2
        ;;
    esac
done

if ! tools/install-deps.sh; then
    echo "test-all: the packages could not be installed; see above" >&2
    exit 2
fi

jobs=$(nproc)
out=$root/build/test-all
rm -rf "$out"
mkdir -p "$out"
skipped_list=$out/skipped.txt
: >"$skipped_list"
stages=()
started=$(date +%s)

step() { echo "=== $* ($(($(date +%s) - started)) s)"; }

# What runs 32-bit programs here decides the 32-bit Linux stage and wine.
mode=$(tools/probe-32bit.sh 2>"$out/probe.txt") || mode=none
cat "$out/probe.txt"
m32_options=(-DJYN_TEST_EMULATOR= -DJYN_TEST_CANNOT_RUN=)
m32_note=""
forced=${JYN_32BIT:+ (JYN_32BIT=$JYN_32BIT)}
case $mode in
emulated)
    m32_options=(-DJYN_TEST_EMULATOR="$(command -v qemu-i386)" -DJYN_TEST_CANNOT_RUN=)
    m32_note="tests ran under qemu-i386"
    ;;
none)
    m32_options=(-DJYN_TEST_EMULATOR= "-DJYN_TEST_CANNOT_RUN=$(cat "$out/probe.txt")")
    m32_note="built only: layout checked at compile time"
    ;;
esac

# try_wine native|chroot: installs that wine and starts it; sets version,
# or adds why it does not start to why.
try_wine() {
    local log=$out/wine.log
    if [ "$1" = native ]; then
        if ! tools/install-deps.sh --wine >>"$log" 2>&1; then
            why="wine could not be installed (tools/install-deps.sh --wine; see $log)"
        elif version=$(timeout 60 wine --version 2>>"$log" </dev/null); then
            return 0
        else
            why="wine does not start (see $log)"
        fi
        return 1
    fi
    if ! tools/install-deps.sh --wine-root >>"$log" 2>&1; then
        why="${why:+$why, and }mmdebstrap could not be installed (see $log)"
    elif version=$(tools/wine-root.sh make 2>>"$log"); then
        return 0
    else
        why="${why:+$why, and }no wine root could be made (see $log)"
        tail -n 20 "$log"
    fi
    return 1
}

# Which wine the Windows stage runs its programs under, the first that works:
#   native  the kernel runs 32-bit programs and Debian 12's wine starts
#   chroot  unstable's WoW64 wine in a root of its own (tools/wine-root.sh),
#           made once and kept in JYN_WINE_ROOT (/var/cache/jynmb/wine-root)
#   none    neither: the tests that need wine skip with the reason
# JYN_WINE=native|chroot|none tries that path alone. Exports JYN_WINE (and
# for none JYN_WINE_SKIP) for tests/windows/wine-run.sh; sets wine_note.
choose_wine() {
    local wanted=${JYN_WINE:-} path version why
    : >"$out/wine.log"
    unset JYN_WINE_SKIP
    case $mode in
    native) why="" ;;
    emulated) why="32-bit programs run here only under emulation$forced" ;;
    *) why="32-bit programs cannot run here$forced" ;;
    esac
    case $wanted in
    "" | native | chroot) ;;
    none) why="no wine was chosen (JYN_WINE=none)" ;;
    *) why="JYN_WINE must be native, chroot or none, not '$wanted'" wanted=none ;;
    esac
    for path in native chroot; do
        if [ -n "$wanted" ] && [ "$wanted" != "$path" ]; then continue; fi
        # Debian 12's wine needs a kernel that runs 32-bit programs.
        if [ "$path" = native ] && [ -n "$why" ]; then continue; fi
        if try_wine "$path"; then
            export JYN_WINE=$path
            wine_note="wine: $path, $version"
            return
        fi
    done
    case $wanted in
    none) ;;
    "") why="wine cannot start: $why" ;;
    *) why="wine cannot start: $why (JYN_WINE=$wanted)" ;;
    esac
    export JYN_WINE=none JYN_WINE_SKIP=$why
    wine_note="wine: none"
}

# record STAGE SECONDS PASSED FAILED SKIPPED NOTE
record() { stages+=("$1|$2|$3|$4|$5|$6"); }

# run_ctest STAGE BEGIN CTEST-ARGS...: runs ctest, writing its JUnit file,
# and records the stage from it. A ctest that failed where no test did (no
# tests found, a broken test list) counts as one failure.
run_ctest() {
    local stage=$1 begin=$2
    shift 2
    local junit=$out/$stage.xml status=0 passed=0 failed=1 skipped=0 note=${stage_note:-}
    ctest "$@" --output-junit "$junit" || status=$?
    if [ -s "$junit" ]; then
        read -r passed failed skipped < <(python3 tools/ctest-summary.py "$junit" "$stage" "$skipped_list")
    fi
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1
        note="ctest exited with $status"
    fi
    record "$stage" $(($(date +%s) - begin)) "$passed" "$failed" "$skipped" "$note"
}

# run_preset PRESET [CMAKE OPTIONS...]: configure, build and test one preset
# (its time counted from stage_begin where the stage began before it).
run_preset() {
    local preset=$1
    shift
    local begin=${stage_begin:-$(date +%s)}
    step "$preset: configure and build"
    if ! cmake --preset "$preset" "$@" >"$out/$preset.configure.log" 2>&1; then
        cat "$out/$preset.configure.log"
        record "$preset" $(($(date +%s) - begin)) 0 1 0 "configure failed"
        return
    fi
    if ! cmake --build --preset "$preset" -j"$jobs"; then
        record "$preset" $(($(date +%s) - begin)) 0 1 0 "build failed"
        return
    fi
    step "$preset: test"
    run_ctest "$preset" "$begin" --preset "$preset" -j"$jobs"
}

# run_package: the release packages from the linux and mingw-i686 builds
# above; each check of tools/check-packages.sh counts as one test.
run_package() {
    local begin counts passed=0 failed=1 note=""
    begin=$(date +%s)
    step "package: build and check the .deb and the zip"
    tools/check-packages.sh build/linux build/mingw-i686 2>&1 | tee "$out/package.log"
    counts=$(sed -n 's/^check-packages: \([0-9]*\) checks passed, \([0-9]*\) failed$/\1 \2/p' "$out/package.log")
    if [ -n "$counts" ]; then
        read -r passed failed <<<"$counts"
    else
        note="tools/check-packages.sh ended without its count"
    fi
    record package $(($(date +%s) - begin)) "$passed" "$failed" 0 "$note"
}

run_fuzz() {
    local begin
    begin=$(date +%s)
    step "fuzz: build and smoke runs"
    if ! { cmake --preset fuzz >"$out/fuzz.configure.log" 2>&1 &&
        cmake --build --preset fuzz -j"$jobs"; }; then
        cat "$out/fuzz.configure.log"
        record fuzz $(($(date +%s) - begin)) 0 1 0 "build failed"
        return
    fi
    run_ctest fuzz "$begin" --test-dir build/fuzz/fuzz --output-on-failure
}

# run_windows: the mingw-i686 stage, whose first line says which wine.
run_windows() {
    local wine_note begin
    begin=$(date +%s)
    choose_wine
    step "mingw-i686: $wine_note${JYN_WINE_SKIP:+: $JYN_WINE_SKIP}"
    # The Windows tests serve the simulator from the Linux build above.
    stage_begin=$begin stage_note=$wine_note run_preset mingw-i686 -DJYN_LINUX_TOOLS_DIR="$root/build/linux/bin"
}

wanted() { [ "${#only[@]}" -eq 0 ] || [[ " ${only[*]} " == *" $1 "* ]]; }
wanted linux && run_preset linux
wanted linux-m32 && stage_note=$m32_note run_preset linux-m32 "${m32_options[@]}"
wanted asan && run_preset asan
wanted tsan && run_preset tsan
wanted fuzz && run_fuzz
wanted mingw-i686 && run_windows
wanted package && run_package

total_passed=0
total_failed=0
total_skipped=0
failed_stages=0
echo
echo "=== summary ($(($(date +%s) - started)) s; 32-bit programs: $mode)"
printf '%-12s %8s %8s %8s %8s  %s\n' stage passed failed skipped seconds note
for entry in "${stages[@]}"; do
    IFS='|' read -r name seconds passed failed skipped note <<<"$entry"
    printf '%-12s %8s %8s %8s %8s  %s\n' "$name" "$passed" "$failed" "$skipped" "$seconds" "$note"
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
    if [ "$failed" -ne 0 ]; then failed_stages=$((failed_stages + 1)); fi
done
if [ -s "$skipped_list" ]; then
    echo
    echo "skipped tests, and why:"
    while IFS=$'\t' read -r stage test reason; do
        echo "  $stage: $test: $reason"
    done <"$skipped_list"
fi
echo
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$failed_stages" -eq 0 ]
