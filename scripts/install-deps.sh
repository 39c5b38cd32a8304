#!/usr/bin/env bash
# Installs everything the camera, its tests and its benchmarks need, from Debian
# packages (and the npm registry for the test clients). Safe to run again.
# With --windows: only what the Windows cross-build and its Wine runs need
# (scripts/build-windows.sh calls it so), plus the deb-src entry that lets apt
# fetch the openh264 source package.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
windows=0
if [ "${1:-}" = "--windows" ]; then windows=1; fi

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
if [ "$windows" = 1 ]; then
  pkgs=(
    cmake make python3 ccache
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 nasm
    dpkg-dev wine64 fonts-liberation2 xvfb iproute2 curl ffmpeg
    # GoogleTest's sources, cross-built for the platform unit tests
    googletest
  )
fi
# Node.js with npm: Debian's packages unless a Node.js with npm is already here.
if [ "$windows" = 0 ] && ! command -v npm >/dev/null 2>&1; then pkgs+=(nodejs npm); fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Source packages (openh264 for the Windows DLL): a deb-src entry beside the
# binary one, from the same mirror.
need_update=0
if [ "$windows" = 1 ] && ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ \
    && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
  uri=${uri:-http://deb.debian.org/debian}
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$uri" \
    | as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  need_update=1
fi
if [ "$windows" = 1 ] && ! apt-cache showsrc openh264 >/dev/null 2>&1; then need_update=1; fi
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node test clients (ONVIF client library, browser driver).
if [ "$windows" = 0 ] && [ -f "$here/tests/node/package.json" ]; then
  (cd "$here/tests/node" && npm install --no-audit --no-fund --loglevel=error)
fi
