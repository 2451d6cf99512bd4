#!/usr/bin/env bash
# Renders the operator window, as it opens, to a PNG:
#   scripts/screenshot.sh [out.png] [--mode serial|udp|tcp] [--run-layout] [--about about.png]
#                         [--icons icons.png]
# Uses the build directory in $BUILD (default: build), building the renderer when needed, and
# Qt's offscreen platform, so no display is required.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
if [ $# -eq 0 ]; then
    set -- kalvor-window.png
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
fi
cmake --build "$build" --target kalvor_screenshot -j "${JOBS:-$(nproc)}" >/dev/null

export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
QT_QPA_PLATFORM=offscreen "$build/app/kalvor_screenshot" "$@"
