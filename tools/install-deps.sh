#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when missing.
# Every name is a real package (no virtual ones): dpkg-query reports it installed, so a machine that has
# everything never calls apt-get (no network, no sudo).
set -euo pipefail
packages=(
    # Build
    cmake g++ make ninja-build pkg-config
    qt6-base-dev libgl-dev qt6-serialport-dev
    qt6-httpserver-dev qt6-websockets-dev qt6-speech-dev
    # Qt 6.4's TextToSpeech CMake package needs Qt6QmlIntegration, which this one ships
    qt6-declarative-dev
    # The stop sound plays through libpulse-simple
    libpulse-dev
    # Text to speech at run time
    qt6-speech-speechd-plugin speech-dispatcher espeak-ng speech-dispatcher-espeak-ng
    # Tests only: printed reports are read back with pdftotext; chromium and curl are test clients
    poppler-utils chromium curl
    # The layout tests' text widths depend on these fonts (Nimbus Sans and P052 stand in for the
    # legacy Windows fonts, DejaVu for the rest): keep them
    fonts-dejavu-core fonts-urw-base35
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
