#!/usr/bin/env bash
# Builds the driver, the simulator and jynmb (when needed) and runs the demo:
# the real driver against a simulated plant, no hardware needed.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || [ ! -d /usr/src/googletest ]; then
    if [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q cmake make g++ googletest libgtest-dev
    else
        echo "demo: cmake, g++ and googletest are needed (run as root to install them)" >&2
        exit 2
    fi
fi
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target jynmb RAVEVUD TAVORN >/dev/null
exec build/linux/bin/jynmb demo "$@"
