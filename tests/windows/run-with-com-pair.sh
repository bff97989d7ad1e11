#!/usr/bin/env bash
# Runs a Windows test program with COM1 and COM2 as the two ends of one line
# (two linked pseudo-terminals), and COM9 naming no device.
#   run-with-com-pair.sh PROGRAM [ARGS...]
# shellcheck source=tests/windows/lib.sh
source "$(dirname "$0")/lib.sh"

start_pty_pair
link_com 1 "$pair_a"
link_com 2 "$pair_b"
no_com 9
run_test_program "$@"
