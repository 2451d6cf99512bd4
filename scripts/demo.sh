#!/usr/bin/env bash
# Tries Kalvor without a sign: starts the display simulator and the Kalvor window wired to it.
#   scripts/demo.sh          (or: make demo)
# COM1 is a pseudo-terminal of the simulator (KALVOR_COM1 points at its link); UDP and TCP listen
# on 127.0.0.1 at free ports, printed before the window opens. The simulator's frame lines follow
# in this terminal, and the simulator stops when the window closes.
# The programs come from the build directory in $BUILD (default: build) when they are built
# there, otherwise from PATH (the installed package). Needs a desktop session or xvfb-run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

if [ -x "$build/app/kalvor" ] && [ -x "$build/tools/display-sim/kalvor-display-sim" ]; then
    kalvor="$build/app/kalvor"
    sim="$build/tools/display-sim/kalvor-display-sim"
elif [ -z "${BUILD:-}" ] && command -v kalvor >/dev/null && command -v kalvor-display-sim >/dev/null; then
    kalvor="$(command -v kalvor)"
    sim="$(command -v kalvor-display-sim)"
else
    echo "demo: kalvor and kalvor-display-sim are not built in $build (make demo builds them)" >&2
    exit 1
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "demo: no desktop session (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "      Run it from a terminal of your desktop, or on a virtual screen: xvfb-run -a make demo" >&2
    exit 1
fi

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kalvor-demo.XXXXXX")"
sim_pid=""
tail_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
    fi
    if [ -n "$sim_pid" ]; then
        wait "$sim_pid" 2>/dev/null || true
    fi
    # tail ends by itself once the simulator is gone, after printing its summary line.
    if [ -n "$tail_pid" ]; then
        wait "$tail_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$sim" --udp 0 --tcp 0 --pty --link "$tmp/com1" >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim_pid=$!

# The simulator's first line: listening udp=127.0.0.1:PORT tcp=127.0.0.1:PORT pty=... link=...
listening=""
for _ in $(seq 50); do
    if [ "$(wc -l <"$tmp/sim.out")" -ge 1 ]; then
        listening="$(head -n 1 "$tmp/sim.out")"
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the display simulator did not start:" >&2
        cat "$tmp/sim.err" >&2
        exit 1
    fi
    sleep 0.1
done
if [ -z "$listening" ]; then
    echo "demo: the display simulator printed nothing within 5 seconds" >&2
    exit 1
fi

field() { sed -n "s/^listening.* $1=\([^ ]*\).*\$/\1/p" <<<"$listening"; }
udp="$(field udp)"
tcp="$(field tcp)"
pty="$(field pty)"
link="$(field link)"
if [ -z "$udp" ] || [ -z "$tcp" ] || [ -z "$link" ]; then
    echo "demo: unexpected first line from the display simulator: $listening" >&2
    exit 1
fi

cat <<MSG
Kalvor demo: the display simulator plays the sign.
  Serial: COM1 is the simulator (KALVOR_COM1=$link, pty $pty).
          Keep Mode SERIAL and COM Port COM1, any speed, and press Send.
  UDP:    choose Mode UDP, IP address 127.0.0.1, Target Port ${udp##*:}.
  TCP:    choose Mode TCP, IP address 127.0.0.1, Target Port ${tcp##*:}.
The simulator prints one line per frame below. Close the window to end the demo.
MSG

tail -n +2 -s 0.2 -f --pid="$sim_pid" "$tmp/sim.out" &
tail_pid=$!

KALVOR_COM1="$link" "$kalvor"
