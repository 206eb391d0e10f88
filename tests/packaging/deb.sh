#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from a built tree, unpacks it into a throw-away root and checks
# what a user would get from `apt install ./telvix_*.deb`: the files, their places, and
# dependencies that cover every library the programs link.
#   deb.sh <build folder> <version> <Debian revision> <1 when telvix-sim is built, else 0>
set -uo pipefail
. "$(dirname "$0")/checks.sh"
build=$1
version=$2
package_version=$2-$3
with_sim=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

arch=$(dpkg --print-architecture)
deb=$(build_deb "$build" "$tmp/out")
check "cpack made telvix_${package_version}_$arch.deb (made: $deb)" \
    test "$deb" = "$tmp/out/telvix_${package_version}_$arch.deb"
[ -s "$deb" ] || { finish; exit 1; }

# ---- control data --------------------------------------------------------------------------
info=$(dpkg-deb -I "$deb")
check "dpkg-deb -I reads the package" test $? -eq 0
field() { dpkg-deb -f "$deb" "$1"; }
check "Package is telvix" test "$(field Package)" = telvix
check "Version is $package_version" test "$(field Version)" = "$package_version"
check "Architecture is $arch" test "$(field Architecture)" = "$arch"
check "a Maintainer with an address" bash -c '[[ "$1" == *"<"*@*">"* ]]' _ "$(field Maintainer)"
check "a Description" test -n "$(field Description)"
check "dpkg-deb -I shows a Depends line" contains "$info" "Depends:"

# Package names only: versions and alternatives dropped.
depends=" $(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//' | tr '\n' ' ') "
for p in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins libqt6svg6 libxtst6 libx11-6 \
    fonts-arphic-uming fonts-dejavu-core; do
    check "Depends names $p (Depends: $depends)" contains "$depends" " $p "
done
check "Depends names the ICU library" bash -c '[[ "$1" =~ \ libicu[0-9]+\  ]]' _ "$depends"
# The versions the build needs: a Qt or ICU older than the one built against would fail to load.
full_depends=$(field Depends)
for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6; do
    check "Depends asks $p (>= 6.4) ($full_depends)" \
        bash -c '[[ "$1" =~ (^|, )$2\ \(\>=\ 6\.4[.0-9]*\) ]]' _ "$full_depends" "$p"
done
check "Depends asks libxtst6 with a version" bash -c '[[ "$1" =~ libxtst6\ \(\>=\ [0-9] ]]' _ "$full_depends"
recommends=$(field Recommends)
for p in fonts-noto-cjk qt6-translations-l10n at-spi2-core; do
    check "Recommends names $p ($recommends)" contains ", $recommends," ", $p"
done

# ---- files ---------------------------------------------------------------------------------
listing=$(dpkg-deb -c "$deb")
check "every entry lies under ./usr/" \
    bash -c '! awk "{print \$6}" <<<"$1" | grep -Ev "^\./(usr/.*)?$" | grep -q .' _ "$listing"
check "every entry belongs to root" \
    bash -c '! awk "{print \$2}" <<<"$1" | grep -v "^root/root$" | grep -q .' _ "$listing"
check "nothing in /usr/local" bash -c '! grep -q "\./usr/local" <<<"$1"' _ "$listing"

root=$tmp/root
dpkg -x "$deb" "$root"
check "dpkg -x unpacks the package" test -d "$root/usr"
check "/usr/bin/telvix is an executable" test -x "$root/usr/bin/telvix"
expected="telvix"
if [ "$with_sim" = 1 ]; then
    check "/usr/bin/telvix-sim is an executable" test -x "$root/usr/bin/telvix-sim"
    expected="telvix telvix-sim"
fi
check "/usr/bin holds only the programs ($(ls "$root/usr/bin" | tr '\n' ' '))" \
    test "$(ls "$root/usr/bin" | tr '\n' ' ' | sed 's/ $//')" = "$expected"
desktop=$root/usr/share/applications/telvix.desktop
metainfo=$root/usr/share/metainfo/org.telvix.telvix.metainfo.xml
icon=$root/usr/share/icons/hicolor/scalable/apps/telvix.svg
doc=$root/usr/share/doc/telvix
check "/usr/share/doc/telvix/copyright is machine-readable" \
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright"
check "/usr/share/doc/telvix/changelog.Debian.gz names this version" \
    bash -c 'zcat "$1" | head -n1 | grep -qF "telvix ($2)"' _ "$doc/changelog.Debian.gz" "$package_version"
for page in $expected; do
    check "the manual page $page(1) is installed" test -s "$root/usr/share/man/man1/$page.1.gz"
    check "the Chinese manual page $page(1) is installed" \
        test -s "$root/usr/share/man/zh_TW/man1/$page.1.gz"
done
check "the desktop entry is installed" test -s "$desktop"
check "the AppStream file is installed" test -s "$metainfo"
check "the icon is installed as SVG" grep -q "<svg" "$icon"
if [ -s "$desktop" ]; then
    check "the installed desktop entry validates" desktop-file-validate "$desktop"
    check "its Icon names the installed icon" grep -qx "Icon=$(basename "$icon" .svg)" "$desktop"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    check "its Exec ($exec_name) is an installed program" test -x "$root/usr/bin/$exec_name"
fi
if [ -s "$metainfo" ]; then
    check "the installed AppStream file validates" appstreamcli validate --no-net "$metainfo"
    check "its launchable is the installed desktop entry" \
        grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo"
fi

# ---- the programs --------------------------------------------------------------------------
for bin in "$root"/usr/bin/*; do
    name=$(basename "$bin")
    check "$name is stripped" bash -c '! readelf -S "$1" | grep -Eq "\.(symtab|debug_info)"' _ "$bin"
    # Each library the program asks for by name must come with a package it depends on.
    for soname in $(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        # The loader stands in ldd's list by its path, not by its name.
        path=$(ldd "$bin" | awk -v so="$soname" '$1 == so {print $3} $1 ~ "/" so "$" {print $1}')
        owner=
        for p in "$path" "/usr$path" "${path#/usr}" "$(readlink -f "$path")"; do
            # An empty pattern would match whatever package dpkg lists first.
            [ "$p" = "/usr" ] || [ -z "${p#/usr}" ] && continue
            owner=$(dpkg -S "$p" 2>/dev/null | grep -v '^diversion' | head -n1 | cut -d: -f1)
            [ -n "$owner" ] && break
        done
        check "$name needs $soname ($path), of package '${owner:-?}', which Depends names" \
            contains "$depends" " $owner "
    done
done
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/telvix" --version)
check "the packaged telvix runs and tells its version ($out)" contains "$out" "TELVIX $version"
finish
