#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
# As root it runs apt-get; otherwise it prints the apt-get line to run and stops.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    fonts-ipafont-gothic fonts-liberation2
)
if [ "${1:-}" = "--test" ]; then
    # The real-display suite, the fuzzers, and the release checks: the Debian package (debhelper
    # builds it, ccache compiles its first build, lintian and devscripts'
    # hardening-check check it, autopkgtest runs its tests, under xvfb-run with xauth), the manual
    # pages, the desktop entry and the AppStream data; tshark for the capture that kestra-journal
    # writes.
    packages+=(xvfb xauth xdotool x11-utils imagemagick clang libclang-rt-14-dev python3 tshark
        dpkg-dev debhelper ccache lintian devscripts autopkgtest man-db groff desktop-file-utils appstream)
    # The accessibility and Wayland acceptance runs: AT-SPI on a private D-Bus session, and Weston
    # with Qt's Wayland plugin.
    packages+=(dbus at-spi2-core python3-pyatspi weston qt6-wayland)
    # The remote serial port: ser2net in front of the emulator's pseudo-terminal, and pyserial's
    # RFC 2217 server (its example) for the modem lines that a pseudo-terminal does not have.
    packages+=(ser2net python3-serial)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether ordinary users may capture; the tests only read captures: no.
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
