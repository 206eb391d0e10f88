#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The AppStream file: valid offline, even to the pedantic checks, and consistent with the
# desktop entry, the screenshots in docs/ and the project's version.
#   metainfo.sh <metainfo.xml> <telvix.desktop> <docs folder> <version>
set -uo pipefail
. "$(dirname "$0")/checks.sh"
file=$1
desktop=$2
docs=$3
version=$4

out=$(appstreamcli validate --no-net --strict --pedantic "$file" 2>&1)
check "appstreamcli validate --no-net accepts $file: $out" test $? -eq 0
check "appstreamcli reports no issue at all: $out" \
    bash -c '! grep -Eq "^[EWIP]: " <<<"$1"' _ "$out"

id=$(sed -n 's|.*<id>\(.*\)</id>.*|\1|p' "$file")
check "the file is named after its id ($id)" test "$(basename "$file")" = "$id.metainfo.xml"
launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$file")
check "the launchable names the desktop entry ($launchable)" \
    test "$launchable" = "$(basename "$desktop")"
check "the newest release is $version" \
    bash -c 'grep -m1 "<release " "$1" | grep -q "version=\"$2\""' _ "$file" "$version"

newest=$(sed -n '/<release /,/<\/release>/p' "$file" | sed '/<\/release>/q')
check "the newest release says what it brings" contains "$newest" "<description>"
check "the newest release has a date" bash -c '[[ "$1" =~ date=\"[0-9]{4}-[0-9]{2}-[0-9]{2}\" ]]' _ "$newest"
# Software centres and menus should file the program alike.
categories=$(sed -n 's|.*<category>\(.*\)</category>.*|\1|p' "$file" | tr '\n' ';')
desktop_categories=$(sed -n 's/^Categories=//p' "$desktop")
check "the categories ($categories) are the desktop entry's ($desktop_categories)" \
    test "$categories" = "$desktop_categories"

images=$(sed -n 's|.*<image[^>]*>\(.*\)</image>.*|\1|p' "$file")
check "at least one screenshot" test -n "$images"
check "exactly one default screenshot" test "$(grep -c '<screenshot type="default">' "$file")" -eq 1
for url in $images; do
    png=$(basename "$url")
    check "screenshot $png exists in docs/" test -s "$docs/$png"
    check "docs/$png is a PNG" bash -c 'head -c 8 "$1" | od -An -tx1 | grep -q "89 50 4e 47 0d 0a 1a 0a"' _ "$docs/$png"
done
# A picture drawn for docs/ is one a software centre should show too.
for png in "$docs"/*.png; do
    check "docs/$(basename "$png") is one of the screenshots" contains "$images" "/$(basename "$png")"
done
finish
