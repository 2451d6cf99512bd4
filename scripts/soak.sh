#!/usr/bin/env bash
# Builds kalvor_soak and runs it: a loop test over UDP, TCP and a pty with random faults of the
# sign, then the checks on counters, step times, descriptors and memory (see
# tests/reliability/soak.cpp). Status 0 when every check holds.
#
#   scripts/soak.sh                        a minute
#   SOAK_SECONDS=600 scripts/soak.sh       longer
#   SOAK_SEED=1234 scripts/soak.sh         the faults of an earlier run again (its seed is
#                                          printed on the first line)
#
# Environment: BUILD (build directory, default build), BUILD_TYPE, CMAKE_ARGS, JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build}
export SOAK_SECONDS=${SOAK_SECONDS:-60}
scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    read -r -a extra_args <<<"${CMAKE_ARGS:-}"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${extra_args[@]}"
fi
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target kalvor_soak
QT_QPA_PLATFORM=offscreen "$build/tests/reliability/kalvor_soak"
