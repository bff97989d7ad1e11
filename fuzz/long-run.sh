#!/usr/bin/env bash
# Long fuzzing runs, one fuzzer after the other (the machine's cores are
# shared): long-run.sh BIN_DIR WORK_DIR SECONDS NAME...
# Each fuzzer (BIN_DIR/jyn_fuzz_NAME) keeps its growing corpus in
# WORK_DIR/NAME/corpus (seeded from fuzz/corpus/NAME the first time), its
# log in WORK_DIR/NAME.log, and any crashing input in WORK_DIR/NAME/. A summary line per fuzzer
# gives the executions, the time and the coverage reached.
set -euo pipefail
# Absolute paths: the fuzzers that write files change their directory.
mkdir -p "$2"
bin=$(cd "$1" && pwd) long=$(cd "$2" && pwd) seconds=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
status=0
for name in "$@"; do
    work="$long/$name"
    mkdir -p "$work/corpus"
    if [ -z "$(ls -A "$work/corpus")" ]; then
        cp "$here/corpus/$name"/* "$work/corpus/"
    fi
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$work/")
    [ -f "$here/$name.dict" ] && args+=(-dict="$here/$name.dict")
    started=$(date +%s)
    if "$bin/jyn_fuzz_$name" "${args[@]}" "$work/corpus" > "$long/$name.log" 2>&1; then
        verdict=ok
    else
        verdict=FAILED
        status=1
    fi
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$long/$name.log" | grep -o '[0-9]*$' || echo '?')
    cov=$(grep -o 'cov: [0-9]*' "$long/$name.log" | tail -1 || true)
    echo "fuzz-long $name: $verdict, $(( $(date +%s) - started )) s, $execs executions, $cov," \
         "corpus $(ls "$work/corpus" | wc -l) inputs"
done
exit $status
