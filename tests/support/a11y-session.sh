#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command as a desktop with a screen reader runs a program: under an X server, a D-Bus
# session and the accessibility bus of at-spi2-core of its own, with Qt's bridge switched on.
# All of them end with the command.
#   bash a11y-session.sh <command> [arguments...]
set -euo pipefail
if [ -z "${TELVIX_A11Y_SESSION:-}" ]; then
    export TELVIX_A11Y_SESSION=1
    exec bash "$(dirname "$0")/xvfb-session.sh" dbus-run-session -- bash "$0" "$@"
fi
# The accessibility bus starts on demand; Qt's bridge only joins one that is already there.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
exec "$@"
