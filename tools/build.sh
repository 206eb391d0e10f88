#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds TELVIX in build/ (or the folder given as $1); further arguments go to
# CMake, e.g. the compiler and the sanitizer options of the second test build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
shift || true
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVIX_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
