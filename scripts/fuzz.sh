#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 in their own build directory and runs each for a
# bounded time. A target that finds a failing input stops the script with a non-zero status;
# the input is kept under <build dir>/fuzz-artifacts/<target>/ (copy it into
# tests/fuzz/regressions/<target>/ so that the normal tests replay it).
#
#   scripts/fuzz.sh                     every target, FUZZ_SECONDS (default 60) each
#   FUZZ_SECONDS=20 scripts/fuzz.sh     CI's short run
#   FUZZ_RUNS=10000000 scripts/fuzz.sh  a number of executions instead of a time
#   scripts/fuzz.sh frame               one target (frame, simframe)
#
# Environment: BUILD_FUZZ (default build-fuzz), CMAKE_ARGS (extra configure arguments),
# FUZZ_JOBS (parallel build jobs, default nproc).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_FUZZ:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
runs=${FUZZ_RUNS:-}
jobs=${FUZZ_JOBS:-$(nproc)}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(frame simframe)

if ! command -v clang++-14 >/dev/null ||
    ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
    KALVOR_DEPS_EXTRA="clang-14 libclang-rt-14-dev ${KALVOR_DEPS_EXTRA:-}" scripts/install-deps.sh
else
    scripts/install-deps.sh
fi

read -r -a extra_args <<<"${CMAKE_ARGS:-}"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKALVOR_FUZZ=ON \
    "${extra_args[@]}" >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz-targets

status=0
for t in "${targets[@]}"; do
    exe="$build/tests/fuzz/fuzz_$t"
    seeds="tests/fuzz/corpus/$t"
    if [ ! -x "$exe" ] || [ ! -d "$seeds" ]; then
        echo "fuzz: unknown target '$t' (targets: frame, simframe)" >&2
        exit 2
    fi
    # New inputs go to a scratch corpus in the build directory, never into the sources.
    work="$build/fuzz-corpus/$t"
    artifacts="$build/fuzz-artifacts/$t"
    mkdir -p "$work" "$artifacts"
    # Longest input: a frame is at most 246 bytes; the simulator's framer gives up at 300.
    maxlen=260
    [ "$t" = simframe ] && maxlen=400
    limit=(-max_total_time="$seconds")
    [ -n "$runs" ] && limit=(-runs="$runs")
    echo "fuzz: $t (${runs:+$runs runs}${runs:-$seconds s})"
    start=$(date +%s)
    log="$build/fuzz-$t.log"
    if ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$exe" "${limit[@]}" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$work" "$seeds" >"$log" 2>&1; then
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        echo "fuzz: $t ok: ${execs:-?} executions in $(( $(date +%s) - start )) s," \
            "corpus $(find "$work" -type f | wc -l) inputs"
    else
        status=1
        tail -40 "$log"
        echo "fuzz: $t FAILED; failing inputs:" >&2
        find "$artifacts" -type f -newer "$exe" -print >&2
        echo "fuzz: copy them into tests/fuzz/regressions/$t/ and fix the fault" >&2
    fi
done
exit $status
