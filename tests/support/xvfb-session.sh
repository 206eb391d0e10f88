#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command under an X server of its own and stops the server after it.
#   bash xvfb-session.sh <command> [arguments...]
# The server picks a free display number itself (-displayfd). Tests that run side by side
# each get their own; `xvfb-run -a` guesses a number from lock files, and two guessing at once
# could take the same one, so that one test's server failed and it talked to the other's until
# that one ended.
set -euo pipefail
fifo_dir=$(mktemp -d /tmp/telvix-xvfb.XXXXXX)
server=
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$fifo_dir"
}
trap cleanup EXIT
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo_dir/display" 2>"$fifo_dir/log" &
server=$!
display=
if ! read -r -t 30 display <"$fifo_dir/display" || [ -z "$display" ]; then
    echo "xvfb-session: the X server did not start" >&2
    cat "$fifo_dir/log" >&2 || true
    exit 1
fi
export DISPLAY=:$display
"$@"
