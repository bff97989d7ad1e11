#!/usr/bin/env bash
# One bounded fuzzing run on a fresh copy of a seed corpus, so the corpus in
# the repository is never changed: run-fuzzer.sh FUZZER SEEDS WORK SECONDS [DICT]
# A crash or a broken invariant leaves its input in WORK and fails the run.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4 dict=${5:-}

rm -rf "$work"
mkdir -p "$work/corpus"
# Absolute: the fuzzers that write files change their directory.
work=$(cd "$work" && pwd)
cp "$seeds"/* "$work/corpus/"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
      -artifact_prefix="$work/")
if [ -n "$dict" ] && [ -f "$dict" ]; then
    args+=(-dict="$dict")
fi
exec "$fuzzer" "${args[@]}" "$work/corpus"
