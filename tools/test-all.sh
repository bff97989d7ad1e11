#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc)
run_preset() {
    local preset=$1
    shift
    echo "=== $preset: configure and build"
    cmake --preset "$preset" "$@" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    echo "=== $preset: test"
    ctest --preset "$preset" -j"$jobs"
}

started=$(date +%s)
for preset in linux linux-m32 asan; do
    run_preset "$preset"
done
# Windows: the cross-built DLLs and jynmb.exe under wine, against the
# simulator of the Linux build above.
run_preset mingw-i686 -DJYN_LINUX_TOOLS_DIR="$PWD/build/linux/bin"
echo "=== all tests passed in $(( $(date +%s) - started )) s"
