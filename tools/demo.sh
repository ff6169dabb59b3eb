#!/usr/bin/env bash
# Runs the monitor against the simulated plant. Called by `bash setup.sh demo`
# with the build directory. With a display, the window opens and the demo
# ends when the window is closed; without one, the monitor runs on a virtual
# display for DEMO_SECONDS (60), a screenshot of its window is saved, and
# everything stops.
set -euo pipefail
BUILD=$(cd "${1:?build directory}" && pwd)
SIM=$BUILD/tools/sim/brelvon-sim
MONITOR=$BUILD/src/brelvon
INI=$BUILD/src/param.ini # the monitor reads param.ini beside its executable
SECONDS_TO_RUN=${DEMO_SECONDS:-60}
SHOT=${DEMO_SCREENSHOT:-$BUILD/brelvon-demo.png}

pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

rm -f "$INI"
"$SIM" --write-ini "$INI" --day-length "${DEMO_DAY_LENGTH:-600}" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$INI" ] && break
    sleep 0.1
done
[ -s "$INI" ] || { echo "the simulated plant did not start" >&2; exit 1; }
echo "== simulated plant up; param.ini written to $INI"

if [ -n "${DISPLAY:-}" ]; then
    echo "== starting the monitor with Auto-Read on; close its window to stop"
    "$MONITOR" --auto-read
    exit 0
fi

echo "== no display: running the monitor on a virtual display for ${SECONDS_TO_RUN} s"
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
DISPLAY=$display "$MONITOR" --auto-read &
monitor=$!
pids+=("$monitor")
sleep "$SECONDS_TO_RUN"
if ! kill -0 "$monitor" 2>/dev/null; then
    echo "the monitor ended early" >&2
    exit 1
fi
window=$(DISPLAY=$display xwininfo -root -tree | awk '/"Brelvon"/ {print $1; exit}')
DISPLAY=$display import -window "${window:-root}" "$SHOT"
echo "== screenshot of the monitor saved to $SHOT"
