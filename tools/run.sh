#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds TELVIX and starts it on this desktop.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no desktop to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "run: start this command from a terminal of your desktop session." >&2
    exit 2
fi
exec "$top/build/telvix"
