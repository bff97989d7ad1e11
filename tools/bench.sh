#!/usr/bin/env bash
# Builds the driver and the benchmarks (Release) and runs them: the
# micro-benchmarks of the driver's steps, then jyn_bench (line utilisation,
# CPU per transaction, time-out accuracy). Arguments go to jyn_bench, e.g.
#   tools/bench.sh --repeat 7 --seconds 3
# Timing figures suffer from load on the machine, so the script first waits
# (bounded) for the 1-minute load to fall below BENCH_MAX_LOAD.
#   BENCH_BUILD_DIR  build folder (default build/bench)
#   BENCH_MAX_LOAD   load to wait for (default 0.5)
#   BENCH_WAIT       longest wait for it, seconds (default 300); 0: no wait
#   BENCH_TRACE      1: also what the driver's trace costs (jyn_bench --trace)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD_DIR:-build/bench}
max_load=${BENCH_MAX_LOAD:-0.5}
wait_s=${BENCH_WAIT:-300}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DJYN_WERROR=ON -DJYN_BUILD_BENCH=ON \
    -DJYN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target jyn_bench jyn_micro_bench RAVEVUD TAVORN >/dev/null

load1() { cut -d' ' -f1 /proc/loadavg; }
waited=0
while awk -v l="$(load1)" -v m="$max_load" 'BEGIN { exit !(l >= m) }' && [ "$waited" -lt "$wait_s" ]; do
    [ "$waited" -eq 0 ] && echo "bench: load $(load1), waiting up to ${wait_s} s for it to fall below $max_load" >&2
    sleep 10
    waited=$((waited + 10))
done
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min), $(date -u +%FT%TZ)"
echo "bench: $(git rev-parse --short HEAD 2>/dev/null || echo '?') $(git status --porcelain -- serial bench 2>/dev/null | grep -q . && echo '(serial/ or bench/ changed)')"

echo
echo "== Micro-benchmarks (median of 5 repetitions)"
"$build/bin/jyn_micro_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 2>/dev/null | grep -E '^(Benchmark|-|Parse|Build|Store)' | grep -E 'median|Benchmark|^-'
echo
# The trace's cost: BENCH_TRACE=1 runs every paced and unpaced case a second
# time, right after itself, with the driver's trace on, and compares the two
# ("The trace's cost" in docs/performance.md). jyn_bench then works in a
# directory of its own, where it writes the station file of its instance.
if [ "${BENCH_TRACE:-}" = 1 ]; then
    bench_bin=$(cd "$build/bin" && pwd)
    trace_dir=$(mktemp -d)
    trap 'rm -rf "$trace_dir"' EXIT
    (cd "$trace_dir" && "$bench_bin/jyn_bench" --trace "$trace_dir/bench.trc" "$@")
else
    "$build/bin/jyn_bench" "$@"
fi

# Several lines at once: 1, 2, 4 and 8 lines at 9600 and 115200 baud and
# unpaced, one driver instance and one host thread a line (jyn_bench
# --only lines; "Several lines at once" in docs/performance.md). BENCH_MULTILINE
# holds its arguments, e.g. "--repeat 3 --lines-list 1,8"; "skip" leaves it
# out.
if [ "${BENCH_MULTILINE:-}" != skip ]; then
    echo
    echo "bench: several lines, load $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)"
    # shellcheck disable=SC2086  # the arguments are split on purpose
    "$build/bin/jyn_bench" --only lines ${BENCH_MULTILINE:-}
fi
