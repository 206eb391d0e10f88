#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds TELVIX with its tests and runs every one of them: once in an
# ordinary build, then again in a clang build with AddressSanitizer and UndefinedBehaviorSanitizer
# (where the fuzzers also get their short runs). Any sanitizer report fails the test it came from.
# Arguments go to both ctest runs, e.g. -R receive.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh"
# Window tests draw offscreen; the keyboard-injection tests need a real X server.
export QT_QPA_PLATFORM=offscreen

# Line tables are all the debug information a failing test's stack trace needs; full debug
# information costs the two builds minutes.
lines_only=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
bash "$top/tools/build.sh" "$top/build" "${lines_only[@]}"
(cd "$top/build" && ctest --output-on-failure -j"$(nproc)" "$@")

bash "$top/tools/build.sh" "$top/build-asan" -DCMAKE_CXX_COMPILER=clang++ \
    -DTELVIX_SANITIZE=ON -DTELVIX_FUZZ=ON -DTELVIX_BENCHMARKS=OFF "${lines_only[@]}"
source "$top/tools/sanitizer-env.sh"
(cd "$top/build-asan" && ctest --output-on-failure -j"$(nproc)" "$@")
