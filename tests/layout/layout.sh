#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The folders show the layers, and includes run only downward:
#   main → settings, modes → script → send → session → serial → widgets → traffic
# (settings and modes stand side by side and include neither each other nor main); traffic/
# includes nothing outside itself. Each folder's sources.cmake lists only its own files, and
# the two folders that are one library each are in it: traffic/ in the core, widgets/ in the forms.
#   layout.sh SOURCE_FOLDER
set -uo pipefail
top=${1:?source folder}
cd "$top" || exit 2

rank() {
    case $1 in
        main | sim) echo 0 ;;
        settings | modes) echo 1 ;;
        script) echo 2 ;;
        send) echo 3 ;;
        session) echo 4 ;;
        serial) echo 5 ;;
        widgets) echo 6 ;;
        traffic) echo 7 ;;
        *) echo -1 ;;
    esac
}

faults=0
fault() {
    echo "$1"
    faults=$((faults + 1))
}

folders="main sim settings modes script send session serial widgets traffic"
for from in $folders; do
    [ -d "$from" ] || { fault "missing folder $from/"; continue; }
    mine=$(rank "$from")
    while IFS=: read -r file line target; do
        to=${target%%/*}
        theirs=$(rank "$to")
        [ "$theirs" -lt 0 ] && continue # a header of the build (ui_*.h) or of a library
        [ "$to" = "$from" ] && continue
        if [ "$theirs" -le "$mine" ]; then
            fault "$file:$line includes $target: $from/ may not include $to/"
        fi
    done < <(grep -n -o -E '^#include "[a-z]+/[^"]+"' $from/*.cpp $from/*.h 2>/dev/null \
        | sed -E 's/#include "//; s/"$//')
done

for dir in main serial send modes settings script traffic session widgets; do
    list=$dir/sources.cmake
    [ -f "$list" ] || { fault "missing $list"; continue; }
    while read -r lib entry; do
        case $entry in
            "$dir"/*) ;;
            *) fault "$list lists $entry, which is not in $dir/" ;;
        esac
        [ -e "$entry" ] || fault "$list lists $entry, which does not exist"
        if [ "$dir" = traffic ] && [ "$lib" != TELVIX_CORE ]; then
            fault "$entry is in $lib: traffic/ is the core library's"
        fi
        if [ "$dir" = widgets ] && [ "$lib" != TELVIX_FORMS ]; then
            fault "$entry is in $lib: widgets/ is the forms library's"
        fi
    done < <(awk '/^list\(APPEND/ { lib = $2; next } /^\)/ { lib = ""; next }
                  lib != "" { for (i = 1; i <= NF; ++i) print lib, $i }' "$list")
done

# Every source file of a folder is built: none is left out of its list.
for dir in main serial send modes settings script traffic session widgets; do
    for file in $dir/*.cpp $dir/*.h; do
        [ -e "$file" ] || continue
        [ "$file" = main/main.cpp ] && continue
        grep -q -w -F "$file" "$dir/sources.cmake" || fault "$file is in no list of $dir/sources.cmake"
    done
done

if [ "$faults" -gt 0 ]; then
    echo "FAILED: $faults"
    exit 1
fi
echo "layout: every include runs downward, every file is in its folder's list"
