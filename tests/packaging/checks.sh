# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the packaging tests: each check reports its own failure and the script goes on,
# so that one run shows every fault; `finish` sets the exit code.
failures=0
checks=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# check <description> <command...>
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    if ! "$@"; then
        fail "$what"
    fi
}

# contains <haystack> <needle>
contains() {
    case $1 in
        *"$2"*) return 0 ;;
        *) return 1 ;;
    esac
}

finish() {
    echo "$(basename "$0"): $checks checks, $failures failed"
    [ "$failures" -eq 0 ]
}
