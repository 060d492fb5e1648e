#!/bin/bash
# Runs a benchmark as on a desktop whose accessibility bus is active: an X
# server of its own, a session bus, Qt's accessibility bridge on, and a
# listener that follows the window's events as a screen reader does.
#
#   bench/with_accessibility_bus.sh build/rel/bench/capture_bench --only window
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
export DISPLAY=$display QT_QPA_PLATFORM=xcb VANTREL_BENCH_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
dbus-run-session -- bash -c '
    /usr/bin/python3 "$0/accessibility_listener.py" &
    listener=$!
    sleep 1
    "${@}"
    status=$?
    kill -TERM $listener; wait $listener
    exit $status' "$here" "$@"
