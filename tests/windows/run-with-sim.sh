#!/usr/bin/env bash
# Runs a Windows test program with COM1 linked to the simulator, which serves
# the plant (plant/JYNMB01.INT, plant/plant.preset); the program's current
# directory holds the same station file, as a host's would.
#   run-with-sim.sh PROGRAM [ARGS...]
# shellcheck source=tests/windows/lib.sh
source "$(dirname "$0")/lib.sh"

cp "$jyn_tests_dir/plant/JYNMB01.INT" "$JYN_WORK/"
start_sim --init "$jyn_tests_dir/plant/JYNMB01.INT" --preset "$jyn_tests_dir/plant/plant.preset"
link_com 1 "$sim_port"
run_test_program "$@"
