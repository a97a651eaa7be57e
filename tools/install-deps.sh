#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Norv View need.
# Does nothing when all of them are present already.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
    # libraries
    libglib2.0-dev libgtk-3-dev libwebkit2gtk-4.1-dev libxml2-dev zlib1g-dev libx11-dev libxext-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
    gstreamer1.0-gtk3 gstreamer1.0-alsa gstreamer1.0-tools pulseaudio
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb openbox xdotool x11-utils x11-xserver-utils imagemagick unzip python3 dbus-x11
    dbus-daemon python3-dbusmock libxss-dev ffmpeg
    # packaging: the icon's SVG loader, the package checks
    librsvg2-common file lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
