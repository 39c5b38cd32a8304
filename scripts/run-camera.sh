#!/usr/bin/env bash
# Installs what is needed, builds an optimised zeb_onvif and runs it. Without an
# X display it starts a virtual one (Xvfb, 1920x1080) for the camera to film,
# and runs the camera without its desktop windows (nobody is there to click them).
# Extra arguments go to zeb_onvif (for example: 554 8000).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DENABLE_TESTS=OFF
cmake --build build-release -j"$(nproc)"
extra=()
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :77 -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=:77
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.1; done
  extra=(--background)
fi
./build-release/zeb_onvif "${extra[@]}" "$@"
