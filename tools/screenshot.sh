#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Redraws the screenshots in docs/ (main window, port dialog, settings dialog) from the real
# forms, under a virtual X server of their own.
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
simpid=
cleanup() {
    if [ -n "$simpid" ]; then
        kill "$simpid" 2>/dev/null || true
        wait "$simpid" 2>/dev/null || true
    fi
    rm -rf "$runtime"
}
trap cleanup EXIT
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
if [ -n "$sim" ]; then
    "$sim" echo >/dev/null 2>&1 &
    simpid=$!
    for _ in $(seq 50); do
        [ -n "$(ls -A "$runtime/telvix" 2>/dev/null)" ] && break
        sleep 0.1
    done
fi

mkdir -p "$top/docs"
# No window manager runs under Xvfb, so the pictures show the windows' contents without a frame.
QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$dir/telvix_screenshot" "$top/docs"
