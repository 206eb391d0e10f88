#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs every Debian package that building, running and testing TELVIX needs.
# Run as root (or through sudo) on Debian 12. Installs only what is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6svg6
    libicu-dev libxtst-dev libx11-dev
    xvfb xauth
    fonts-arphic-uming fonts-noto-cjk fonts-dejavu-core
    qt6-translations-l10n
    desktop-file-utils appstream
    # the packaging tests check the package as Debian would, and render the manual pages
    lintian man-db groff-base
    clang libclang-rt-14-dev llvm valgrind python3
    # the accessibility tests: a D-Bus session, the AT-SPI bus and Python's AT-SPI client
    dbus dbus-bin at-spi2-core python3-gi gir1.2-atspi-2.0
    # the network-port tests run a real serial server
    ser2net
    # scripts run in Lua 5.4, through its C API
    liblua5.4-dev
    # an independent client of the pass-through
    python3-serial
    # telvix-sim's Modbus slave, and the master its tests drive it with
    libmodbus-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: every package is installed"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
