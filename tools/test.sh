#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds TELVIX with its tests and runs every one of them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"
cd "$top/build"
# Window tests draw offscreen; the keyboard-injection tests need a real X server.
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j"$(nproc)" "$@"
