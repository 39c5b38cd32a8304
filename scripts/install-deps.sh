#!/usr/bin/env bash
# Installs everything the camera, its tests and its benchmarks need, from Debian
# packages (and the npm registry for the test clients). Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

# Works as root (a fresh Debian container has no sudo) and as a user with sudo.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null 2>&1; then sudo "$@"
  else echo "install-deps: run as root (or install sudo) to install: ${missing[*]}" >&2; exit 1
  fi
}

pkgs=(
  # build
  build-essential cmake pkg-config git
  libssl-dev libx11-dev libxext-dev libxfixes-dev libxdamage-dev
  libcairo2-dev libpango1.0-dev libopenh264-dev libopenh264-7
  libturbojpeg0-dev libpulse-dev
  libgtest-dev libgmock-dev libbenchmark-dev libyuv-dev libsystemd-dev
  # the Windows platform unit tests cross-build GoogleTest from its sources
  googletest
  # fuzzing: clang with libFuzzer and the sanitizer run-times
  clang libclang-rt-14-dev
  # screens and fonts
  xvfb x11-utils x11-xserver-utils imagemagick tigervnc-standalone-server
  fonts-noto-core fonts-dejavu-core
  # real clients and peers used by the tests
  ffmpeg mpv gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  pulseaudio pulseaudio-utils sox iproute2 procps psmisc
  python3 chromium curl libxml2-utils
  # players and a recorder from the README's "Use it" recipes
  motion
  # QR codes: render the SVG and read it back with a reader we did not write
  zbar-tools librsvg2-bin
  # desktop interface and its tests
  libgtk-3-dev libayatana-appindicator3-dev python3-pyatspi python3-gi gir1.2-gtk-3.0
  at-spi2-core dbus-x11
)
# Node.js with npm: Debian's packages unless a Node.js with npm is already here.
if ! command -v npm >/dev/null 2>&1; then pkgs+=(nodejs npm); fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node test clients (ONVIF client library, browser driver).
if [ -f "$here/tests/node/package.json" ]; then
  (cd "$here/tests/node" && npm install --no-audit --no-fund --loglevel=error)
fi
