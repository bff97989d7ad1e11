#!/usr/bin/env bash
# Builds the driver, the simulator and jynmb (when needed) and runs the demo:
# the real driver against a simulated plant, no hardware needed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ "${#missing[@]}" -ne 0 ]; then
    echo "demo: installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "demo: ${missing[*]} needed (run as root to install them)" >&2
        exit 2
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q || echo "demo: apt-get update failed; going on with the package lists apt has" >&2
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
echo "demo: configuring the linux build (build/linux)"
cmake --preset linux >/dev/null
echo "demo: building the driver, TAVORN and jynmb"
cmake --build --preset linux -j"$(nproc)" --target jynmb RAVEVUD TAVORN
echo "demo: running build/linux/bin/jynmb demo"
exec build/linux/bin/jynmb demo "$@"
