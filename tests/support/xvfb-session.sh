#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command under an X server of its own and stops the server after it.
#   bash xvfb-session.sh <command> [arguments...]
# Each server takes a display number drawn at random from a wide range, and another when that
# one is taken. Numbers handed out lowest first (`xvfb-run -a`, or -displayfd alone) went to the
# next test the moment the last one's server ended, and that test's program at times could not
# connect to the display it was given (most likely the ending server's clean-up met the new one).
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
display=
for _ in $(seq 20); do
    number=$((1000 + RANDOM % 30000))
    Xvfb ":$number" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
        3>"$fifo_dir/display" 2>"$fifo_dir/log" &
    server=$!
    # The number comes back once the server takes connections; nothing comes when it failed.
    if read -r -t 30 display <"$fifo_dir/display" && [ -n "$display" ]; then
        break
    fi
    wait "$server" 2>/dev/null || true
    server=
    display=
done
if [ -z "$display" ]; then
    echo "xvfb-session: the X server did not start" >&2
    cat "$fifo_dir/log" >&2 || true
    exit 1
fi
export DISPLAY=:$display
"$@"
