#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The menu entry: valid, and with the name, icon, categories and keywords users search for.
#   desktop_entry.sh <telvix.desktop>
set -uo pipefail
. "$(dirname "$0")/checks.sh"
file=$1

out=$(desktop-file-validate "$file" 2>&1)
check "desktop-file-validate accepts $file: $out" test $? -eq 0
# Errors, warnings and hints all count.
check "desktop-file-validate reports nothing at all: $out" test -z "$out"

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
# One main category, with the additional one that places it: software centres and menus
# list an entry under each main category it names.
categories=$(value Categories)
check "Categories is Development;Electronics; ($categories)" \
    test "$categories" = "Development;Electronics;"
keywords=$(value Keywords)
zh_keywords=$(value 'Keywords\[zh_TW\]')
# Searched in English and in Chinese whatever the desktop's language is.
for k in serial RS232 UART COM 序列埠 串列埠; do
    check "keyword $k ($keywords)" contains ";$keywords" ";$k;"
    check "zh_TW keyword $k ($zh_keywords)" contains ";$zh_keywords" ";$k;"
done
finish
