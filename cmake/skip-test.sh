#!/usr/bin/env bash
# Stands in for a test program that this machine cannot run: says why, and
# exits with the code ctest takes for "skipped".
echo "skipped: $*"
exit 77
