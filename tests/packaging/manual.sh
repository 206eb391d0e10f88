#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual pages as man shows them: they render without a complaint from groff, in English
# and in Chinese, man-db finds their one-line summary, and each lists exactly the options that
# the program's own --help lists.
#   manual.sh <built man folder> <telvix binary> [<telvix-sim binary>]
set -uo pipefail
. "$(dirname "$0")/checks.sh"
man_dir=$1
declare -A programs=([telvix]=$2)
[ $# -ge 3 ] && programs[telvix-sim]=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if ! command -v man >/dev/null || ! command -v groff >/dev/null; then
    echo "manual.sh: SKIPPED, man or groff is not installed (bash tools/setup.sh installs them)"
    exit 0
fi

# The options a text names: -x and --word where an option can stand (at the start, after a
# blank, a bracket, a comma or a bar), once each, sorted.
options_in() {
    grep -oE '(^|[][ ,|(])--?[a-z][a-z-]*' "$1" | sed 's/^[][ ,|(]//' | sort -u | tr '\n' ' '
}

for name in $(printf "%s\n" "${!programs[@]}" | sort); do
    bin=${programs[$name]}
    env -u DISPLAY -u WAYLAND_DISPLAY "$bin" --help >"$tmp/help" 2>&1
    check "$name --help answers" test $? -eq 0
    help_options=$(options_in "$tmp/help")
    for lang in en zh_TW; do
        sub=""
        [ "$lang" = en ] || sub="$lang/"
        page=$man_dir/$sub$name.1.gz
        check "$lang page $name(1) is built" test -s "$page"
        [ -s "$page" ] || continue
        check "$lang page $name(1) is gzip without a name or time inside" \
            bash -c '[ "$(od -An -tx1 -j3 -N5 "$1" | tr -d " ")" = 0000000000 ]' _ "$page"
        # What lintian runs: every groff warning is a fault of the page.
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" \
            >"$tmp/rendered" 2>"$tmp/warnings"
        check "$lang page $name(1) renders" test -s "$tmp/rendered"
        check "$lang page $name(1) renders without warnings: $(head -c 600 "$tmp/warnings")" \
            test ! -s "$tmp/warnings"
        whatis=$(lexgrog "$page" 2>&1)
        check "$lang page $name(1) has a summary man-db reads ($whatis)" \
            contains "$whatis" "$name - "
        # The source, so that a line broken by groff cannot split an option's name.
        zcat "$page" | sed 's/\\-/-/g; s/\\f[BIRP]//g; s/\\://g' >"$tmp/source"
        man_options=$(options_in "$tmp/source")
        check "$lang page $name(1) names the options of --help (page: $man_options; help: $help_options)" \
            test "$man_options" = "$help_options"
        # A menu's keyboard mnemonic is the window's business; on paper "(&L)" is noise.
        check "$lang page $name(1) has no menu mnemonics: $(grep -o '.\{12\}(&[A-Z])' "$tmp/rendered" | head -3)" \
            bash -c '! grep -q "(&[A-Z])" "$1"' _ "$tmp/rendered"
        # The Chinese page says all that the English one says: the same sections.
        sections=$(grep -c '^\.SH' "$tmp/source")
        if [ "$lang" = en ]; then
            en_sections=$sections
        else
            check "$lang page $name(1) has the sections of the English one ($sections, $en_sections)" \
                test "$sections" = "$en_sections"
        fi
    done
done
finish
