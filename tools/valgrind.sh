#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every test program of an ordinary build under valgrind's memcheck, one after the other
# (offscreen, the keyboard tests in their own Xvfb). Not part of the test command: it takes a
# long time. Any error, or a definite or indirect leak outside the suppressed system libraries,
# fails the run; each program's log is kept in <build>/valgrind/.
#   bash tools/valgrind.sh [build-folder] [ctest -R regex]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
filter=${2:-.}
mkdir -p "$build/valgrind"
supp="$top/tools/suppressions/valgrind.supp"

cd "$build"
mapfile -t tests < <(ctest --show-only=json-v1 -R "$filter" | python3 -c '
import json, sys
for t in json.load(sys.stdin)["tests"]:
    cmd = t.get("command")
    if cmd:
        print(t["name"] + "\t" + "\x1f".join(cmd))
')

failed=()
for entry in "${tests[@]}"; do
    name=${entry%%$'\t'*}
    IFS=$'\x1f' read -r -a cmd <<< "${entry#*$'\t'}"
    vg=(valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect
        --errors-for-leak-kinds=definite,indirect --error-exitcode=99
        --suppressions="$supp" --gen-suppressions=all --num-callers=30
        --log-file="$build/valgrind/$name.log")
    case "${cmd[0]}" in
    */bash | bash)
        if [[ "${cmd[1]:-}" == */xvfb-session.sh ]]; then
            # bash xvfb-session.sh program: valgrind goes in front of the program.
            run=("${cmd[@]:0:2}" "${vg[@]}" "${cmd[@]:2}")
            platform=xcb
        else
            echo "valgrind: $name is a script, skipped"
            continue
        fi ;;
    */sh | sh)
        echo "valgrind: $name is a script, skipped"
        continue ;;
    *)
        run=("${vg[@]}" "${cmd[@]}")
        platform=offscreen ;;
    esac
    start=$(date +%s)
    # PCRE2's JIT code (the file dialog's name filters) reads its own stack in ways memcheck
    # reports as uninitialised; the interpreter matches the same.
    if QT_QPA_PLATFORM=$platform QT_ASSUME_STDERR_HAS_CONSOLE=1 QT_ENABLE_REGEXP_JIT=0 "${run[@]}" >"$build/valgrind/$name.out" 2>&1; then
        echo "valgrind: $name clean ($(( $(date +%s) - start )) s)"
    else
        echo "valgrind: $name FAILED (see $build/valgrind/$name.log and .out)"
        failed+=("$name")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "valgrind: ${#failed[@]} failed: ${failed[*]}"
    exit 1
fi
echo "valgrind: every program clean"
