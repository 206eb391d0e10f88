#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# --help and --version answer and exit without a display; anything else is refused with
# exit code 2 instead of changing what the program does.
#   command_line.sh <telvix binary> <version>
set -uo pipefail
. "$(dirname "$0")/checks.sh"
telvix=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# run <args...>: runs telvix with no display of any kind; sets rc, and leaves the output in
# $tmp/out and $tmp/err. A program that opened a window would fail to find a display and
# abort, or (with a display leaking in) hang until the timeout: neither gives 0 or 2.
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE \
        timeout 20 "$telvix" "$@" >"$tmp/out" 2>"$tmp/err"
    rc=$?
}

for arg in --version -v; do
    run "$arg"
    check "$arg exits 0 (got $rc; $(cat "$tmp/err"))" test "$rc" -eq 0
    check "$arg names the program and version $version" grep -q "^TELVIX $version\$" "$tmp/out"
    check "$arg names the build" grep -Eq '^組建 build: .+' "$tmp/out"
    check "$arg writes nothing to stderr" test ! -s "$tmp/err"
done

for arg in --help -h; do
    run "$arg"
    check "$arg exits 0 (got $rc; $(cat "$tmp/err"))" test "$rc" -eq 0
    check "$arg shows the usage in Chinese and English" grep -q '^用法 Usage: telvix' "$tmp/out"
    check "$arg lists --help" grep -q -- '--help' "$tmp/out"
    check "$arg lists --version" grep -q -- '--version' "$tmp/out"
    check "$arg says the settings start from their defaults" grep -q 'default' "$tmp/out"
    check "$arg writes nothing to stderr" test ! -s "$tmp/err"
done

run --help --version
check "--help wins over --version" grep -q '^用法 Usage' "$tmp/out"

# Qt's own options included: none of them may change how the program starts.
for args in "--frobnicate" "-platform offscreen" "-style fusion" "--help=full" "-" "--" \
    "COM3"; do
    # shellcheck disable=SC2086 # each case is several words on purpose
    run $args
    first=${args%% *}
    check "'$args' exits 2 (got $rc)" test "$rc" -eq 2
    check "'$args' prints nothing on stdout" test ! -s "$tmp/out"
    check "'$args' names the argument it refused" grep -qF -- "'$first'" "$tmp/err"
    check "'$args' points to --help" grep -q -- 'telvix --help' "$tmp/err"
done

# An unknown word is refused even after a known one.
run --version extra
check "'--version extra' exits 2 (got $rc)" test "$rc" -eq 2
check "'--version extra' prints no version" test ! -s "$tmp/out"
check "'--version extra' names extra" grep -qF "'extra'" "$tmp/err"

# Output that cannot be written is a failure, not a silent success.
if [ -w /dev/full ]; then
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$telvix" --help >/dev/full 2>/dev/null
    rc=$?
    check "--help into a full disk exits 1 (got $rc)" test "$rc" -eq 1
fi

# Without arguments the program does start its window: offscreen it keeps running until
# stopped, where the early exits above would have returned at once.
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen timeout 3 "$telvix" \
    >"$tmp/out" 2>"$tmp/err"
rc=$?
check "no arguments starts the program (timeout expected, got $rc; $(head -c 300 "$tmp/err"))" \
    test "$rc" -eq 124
finish
