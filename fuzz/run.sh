#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the fuzz targets: a fixed number of runs (the smoke run of the test suite) or for a time.
# Builds the sanitizer build first when it has no fuzz targets yet.
#
#   bash fuzz/run.sh [--seconds S | --runs N] [--build DIR] [target...]
#
# Targets: formatter keyevents sendtext portmap capture parmrk rfc2217 (all when none is named); default: 600
# seconds each, in build-asan/. A long run keeps what it learns in DIR/fuzz/corpus/<target> for
# the next one; the seeds in fuzz/corpus/ are only read. An input that breaks an invariant is
# written to DIR/fuzz/artifacts/ and the run fails; copy it into fuzz/corpus/<target>/ once it is
# mended.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build-asan
limit=(-max_total_time=600)
smoke=0
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); smoke=1; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h | --help) sed -n '3,13p' "$0"; exit 0 ;;
    -*) echo "fuzz: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=(formatter keyevents sendtext portmap capture parmrk rfc2217)

if [ ! -x "$build/fuzz/fuzz_${targets[0]}" ]; then
    bash "$top/tools/build.sh" "$build" -DCMAKE_CXX_COMPILER=clang++ \
        -DTELVIX_SANITIZE=ON -DTELVIX_FUZZ=ON
fi
source "$top/tools/sanitizer-env.sh"

# A smoke run starts from the seeds alone with a fixed seed, so it makes the same runs every
# time; what it learns is thrown away.
corpora=$build/fuzz/corpus
options=()
if [ "$smoke" = 1 ]; then
    corpora=$(mktemp -d)
    trap 'rm -rf "$corpora"' EXIT
    options=(-seed=1)
fi
artifacts=$build/fuzz/artifacts
mkdir -p "$artifacts"

failed=0
for target in "${targets[@]}"; do
    program=$build/fuzz/fuzz_$target
    seeds=$top/fuzz/corpus/$target
    corpus=$corpora/$target
    mkdir -p "$corpus"
    log=$build/fuzz/$target.log
    if "$program" "${limit[@]}" "${options[@]}" -max_len=4096 -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$corpus" "$seeds" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
        echo "fuzz: $target: ${runs:-?} runs in ${seconds:-?} s, corpus $(ls "$corpus" | wc -l) inputs, no failure"
    else
        echo "fuzz: $target FAILED; the log follows (also in $log)"
        tail -n 60 "$log"
        failed=1
    fi
done
exit $failed
