#!/usr/bin/env bash
# Installs everything the camera, its tests and its benchmarks need, from Debian
# packages (and the npm registry for the test clients). Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

pkgs=(
  # build
  build-essential cmake pkg-config git
  libssl-dev libx11-dev libxext-dev libxfixes-dev libxdamage-dev
  libcairo2-dev libpango1.0-dev libopenh264-dev libopenh264-7
  libturbojpeg0-dev libpulse-dev
  libgtest-dev libgmock-dev libbenchmark-dev libyuv-dev
  # screens and fonts
  xvfb x11-utils x11-xserver-utils imagemagick tigervnc-standalone-server
  fonts-noto-core fonts-dejavu-core
  # real clients and peers used by the tests
  ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  pulseaudio pulseaudio-utils sox iproute2 procps psmisc
  python3 chromium curl
)
# Node.js with npm: Debian's packages unless a Node.js with npm is already here.
if ! command -v npm >/dev/null 2>&1; then pkgs+=(nodejs npm); fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node test clients (ONVIF client library, browser driver).
if [ -f "$here/tests/node/package.json" ]; then
  (cd "$here/tests/node" && npm install --no-audit --no-fund --loglevel=error)
fi
