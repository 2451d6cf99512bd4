#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them: prints one table and writes it to
# bench/results.md, with the figures in bench/results.json.
#   BUILD_BENCH  build directory (default build-bench)
#   JOBS         parallel build jobs (default: nproc)
#   CMAKE_ARGS   extra configure arguments
# Arguments are passed to kalvor_bench (for a quick look: --pace-seconds 2 --long-steps 5000
# --log-entries 10000 --naive-seconds 5).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_BENCH:-build-bench}
jobs=${JOBS:-$(nproc)}
start=$(date +%s)

# shellcheck disable=SC2086 # CMAKE_ARGS holds several arguments
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$jobs" --target kalvor_bench kalvor-display-sim bench_log
built=$(date +%s)

"$build/bench/kalvor_bench" --out bench "$@"

end=$(date +%s)
echo "bench: $((end - start)) s in all (build $((built - start)) s, benchmarks $((end - built)) s)" >&2
