#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when missing.
set -euo pipefail
packages=(
    cmake g++ make ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev libqt6serialport6-dev libgl-dev
    qt6-httpserver-dev qt6-websockets-dev curl chromium
    libpulse-dev
    xvfb xauth imagemagick poppler-utils fonts-dejavu-core fonts-urw-base35
)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
