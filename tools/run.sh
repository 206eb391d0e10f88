#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds TELVIX and starts it on this desktop. On a machine without
# a serial port it first starts the virtual device `telvix-sim echo`, so COM1 answers, and
# stops it again when TELVIX closes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no desktop to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "run: start this command from a terminal of your desktop session." >&2
    exit 2
fi

sim="$top/build/sim/telvix-sim"
# The simulator asks the same port scan as TELVIX which hardware ports there are.
if [ -z "$("$sim" --hardware-ports)" ]; then
    echo "run: no serial port found; starting the virtual device 'telvix-sim echo' as COM1."
    "$sim" echo &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
    # TELVIX looks for ports as it starts; give the device a moment to appear first.
    for _ in $(seq 50); do
        if "$sim" --ports | grep "telvix-sim echo" >/dev/null; then
            break
        fi
        if ! kill -0 "$sim_pid" 2>/dev/null; then
            echo "run: the virtual device did not start; TELVIX starts without it." >&2
            break
        fi
        sleep 0.1
    done
fi

status=0
"$top/build/telvix" "$@" || status=$?
exit "$status"
