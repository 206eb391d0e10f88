#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Redraws the screenshots in docs/ (main window, find bar, port dialog, settings dialog, a
# message, a receive session with the line panel, the self-test, the command panel) from the
# real forms, on simulated devices, under a virtual X server of their own.
#   bash tools/screenshot.sh [build folder]   (default build/)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVIX_WERROR=ON >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" --target telvix_screenshot
if cmake --build "$dir" -j"$(nproc)" --target telvix-sim >/dev/null 2>&1; then
    sim=$dir/sim/telvix-sim
else
    sim=
fi

# A private runtime folder: the port dialog then lists a simulated device and nothing that
# happens to run on this desktop.
runtime=$(mktemp -d /tmp/telvix-shot.XXXX)
simpids=()
cleanup() {
    for pid in "${simpids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$runtime"
}
trap cleanup EXIT
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
# An echoing device for the self-test, and a GPS receiver with an adapter's long by-id name for
# the receive session, so that the status bar shows how a long path is shortened.
ports=()
if [ -n "$sim" ]; then
    stream=usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
    "$sim" stream --pattern nmea --rate 480 --name "$stream" >/dev/null 2>&1 &
    simpids+=($!)
    "$sim" echo >/dev/null 2>&1 &
    simpids+=($!)
    for _ in $(seq 50); do
        [ -e "$runtime/telvix/$stream" ] && [ -e "$runtime/telvix/sim-echo" ] && break
        sleep 0.1
    done
    ports=("$runtime/telvix/$stream" "$runtime/telvix/sim-echo")
fi

mkdir -p "$top/docs"
# No window manager runs under Xvfb, so the pictures show the windows' contents without a frame.
QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$dir/telvix_screenshot" "$top/docs" "${ports[@]}"
