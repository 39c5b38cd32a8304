#!/usr/bin/env bash
# Builds the Debian package from a release build (no sanitizers, no tests):
# build-deb/vistrel_<version>_amd64.deb. Install it with
#   sudo apt install ./build-deb/vistrel_*_amd64.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DENABLE_TESTS=OFF -DENABLE_ASAN=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr "${launcher[@]}"
nice cmake --build build-deb -j"$(nproc)" --target zeb_onvif
(cd build-deb && cpack -G DEB)
ls -1 build-deb/vistrel_*_amd64.deb
