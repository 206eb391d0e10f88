#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The menu entry: valid, and with the name, icon, categories and keywords users search for.
#   desktop_entry.sh <telvix.desktop>
set -uo pipefail
. "$(dirname "$0")/checks.sh"
file=$1

out=$(desktop-file-validate "$file" 2>&1)
check "desktop-file-validate accepts $file: $out" test $? -eq 0
# Hints are fine (three main categories are wanted); errors and warnings are not.
check "desktop-file-validate reports no error or warning: $out" \
    bash -c '! grep -Eq ": (error|warning):" <<<"$1"' _ "$out"

# The value of a key in the [Desktop Entry] group.
value() {
    sed -n '/^\[Desktop Entry\]/,/^\[/p' "$file" | sed -n "s/^$1=//p" | head -n1
}
check "Type is Application" test "$(value Type)" = Application
check "Name is TELVIX" test "$(value Name)" = TELVIX
check "Exec starts telvix with no arguments" test "$(value Exec)" = telvix
check "Icon is the themed name telvix" test "$(value Icon)" = telvix
check "Terminal=false" test "$(value Terminal)" = false
check "an English comment" test -n "$(value Comment)"
zh=$(value 'Comment\[zh_TW\]')
check "a Traditional Chinese comment ($zh)" contains "$zh" 串列埠
categories=$(value Categories)
for c in Utility Development Electronics; do
    check "category $c" contains ";$categories" ";$c;"
done
keywords=$(value Keywords)
for k in serial RS232 COM terminal; do
    check "keyword $k" contains ";$keywords" ";$k;"
done
finish
