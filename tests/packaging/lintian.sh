#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The package as Debian's own checker sees it, with every tag it knows, pedantic ones included:
# nothing a Debian user or a packager would notice at once.
#   lintian.sh <build folder>
set -uo pipefail
. "$(dirname "$0")/checks.sh"
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if ! command -v lintian >/dev/null; then
    echo "lintian.sh: SKIPPED, lintian is not installed (bash tools/setup.sh installs it)"
    exit 0
fi
deb=$(build_deb "$build" "$tmp/out")
check "cpack made the package ($deb)" test -s "$deb"
[ -s "$deb" ] || { finish; exit 1; }

# lintian's own exit code only tells errors; its tags say it all.
lintian -E -I --pedantic --show-overrides --tag-display-limit 0 --fail-on none "$deb" \
    >"$tmp/tags" 2>&1
check "lintian ran ($(tail -n3 "$tmp/tags"))" test $? -eq 0
echo "lintian $(lintian --version | awk '{print $2}') on $(basename "$deb"):"
sed 's/^/    /' "$tmp/tags"
tags=$(grep -E '^[EWIPX]: ' "$tmp/tags")
# An override is an excuse: only the ones the package states, each with its reason, and each
# still needed (lintian says so of one that no longer is).
overridden=$(sed -n 's/^O: //p' "$tmp/tags")
stated=$(grep -v '^#' "$(dirname "$0")/../../packaging/lintian-overrides" | grep -c .)
check "the overrides the package states are the only ones used ($overridden)" \
    test "$(grep -c . <<<"$overridden")" -le "$stated"
check "no error" bash -c '! grep -q "^E: " <<<"$1"' _ "$tags"
check "no warning" bash -c '! grep -q "^W: " <<<"$1"' _ "$tags"
check "no hardening tag: the programs are built with Debian's flags" \
    bash -c '! grep -q " hardening-" <<<"$1"' _ "$tags"
check "no section left that stripping should have removed" \
    bash -c '! grep -q " binary-has-unneeded-section" <<<"$1"' _ "$tags"
check "no tag at all, informational and pedantic ones included" test -z "$tags"
finish
