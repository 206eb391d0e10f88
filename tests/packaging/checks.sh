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

# build_deb <build folder> <output folder>: makes the Debian package with CPack and prints its
# path; on failure shows CPack's output and prints nothing.
build_deb() {
    if ! cpack --config "$1/CPackConfig.cmake" -G DEB -B "$2" >"$2.log" 2>&1; then
        cat "$2.log" >&2
        return 1
    fi
    ls "$2"/telvix_*.deb
}
