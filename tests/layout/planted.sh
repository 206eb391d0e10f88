#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layout check is no check unless it fails: an include planted against the rule in a copy of
# the sources, once upward and once sideways, must each be reported.
#   planted.sh SOURCE_FOLDER
set -euo pipefail
top=${1:?source folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check=$(dirname "$0")/layout.sh
for plant in 'traffic/Traffic.h:#include "serial/SerialPort.h"' \
             'serial/SerialPort.h:#include "session/ModeFrame.h"' \
             'settings/Telvixmain6.cpp:#include "modes/KeyState.h"' \
             'widgets/Fonts.cpp:#include "main/Telvixmain1.h"'; do
    file=${plant%%:*}
    line=${plant#*:}
    rm -rf "$work/tree"
    mkdir "$work/tree"
    (cd "$top" && tar cf - main sim settings modes script send session serial widgets traffic) \
        | (cd "$work/tree" && tar xf -)
    bash "$check" "$work/tree" >/dev/null || { echo "FAILED: the unplanted copy fails"; exit 1; }
    printf '%s\n' "$line" >> "$work/tree/$file"
    if out=$(bash "$check" "$work/tree"); then
        echo "FAILED: $line in $file was not reported"
        exit 1
    fi
    grep -q -F "$file" <<< "$out" || { echo "FAILED: the report does not name $file: $out"; exit 1; }
done
echo "planted: every planted include was reported"
