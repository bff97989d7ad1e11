#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# the native build (with the end-to-end tests, the fault soak, memcheck and
# the benchmark smoke runs), the 32-bit build (the host's record layout),
# AddressSanitizer + UndefinedBehaviorSanitizer, smoke runs of the fuzzers,
# and the Windows DLLs under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc)
started=$(date +%s)
step() { echo "=== $* ($(( $(date +%s) - started )) s)"; }

run_preset() {
    local preset=$1
    shift
    step "$preset: configure and build"
    cmake --preset "$preset" "$@" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    step "$preset: test"
    ctest --preset "$preset" -j"$jobs"
}

for preset in linux linux-m32 asan; do
    run_preset "$preset"
done

step "fuzz: build and smoke runs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
ctest --test-dir build/fuzz/fuzz --output-on-failure

# Windows: the cross-built DLLs and jynmb.exe under wine, against the
# simulator of the Linux build above.
run_preset mingw-i686 -DJYN_LINUX_TOOLS_DIR="$PWD/build/linux/bin"
step "all tests passed"
