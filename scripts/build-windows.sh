#!/usr/bin/env bash
# Cross-builds the Windows program with MinGW-w64 into build-win/ (or $BUILD_WIN):
#   build-win/zeb_onvif.exe       the program (statically linked)
#   build-win/openh264.dll        the H.264 encoder, from Debian's openh264 source
#   build-win/dist/               what a Windows PC needs, ready to copy
#   build-win/vistrel-windows.zip the same folder as a zip
# Installs the Debian packages it needs first (as root, or with sudo).
# Options: --no-deps skips the package check; --no-tests leaves out the
# Windows test programs (tests/windows, run under Wine; the smoke test's
# show_window.exe among them).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_WIN:-$here/build-win}
deps=1
tests=ON
for a in "$@"; do
  case "$a" in
    --no-deps) deps=0 ;;
    --no-tests) tests=OFF ;;
    *) echo "usage: $0 [--no-deps] [--no-tests]" >&2; exit 2 ;;
  esac
done
jobs=${JOBS:-$(nproc)}
mkdir -p "$out"

if [ "$deps" = 1 ]; then "$here/scripts/install-deps.sh" --windows; fi

# ccache, when present, for both the library and the program.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=ccache
else
  launcher=
fi

# --- openh264.dll, once per build folder -----------------------------------
if [ ! -f "$out/openh264.dll" ] || [ ! -f "$out/include/wels/codec_api.h" ] \
    || [ ! -f "$out/openh264-LICENSE.txt" ]; then
  src="$out/openh264-src"
  rm -rf "$src" "$out/openh264-dl"
  mkdir -p "$out/openh264-dl"
  (cd "$out/openh264-dl" && apt-get source --download-only -qq openh264)
  dsc=$(ls "$out"/openh264-dl/openh264_*.dsc | head -n1)
  dpkg-source --no-check -x "$dsc" "$src" >/dev/null
  cc=x86_64-w64-mingw32-gcc-posix
  cxx=x86_64-w64-mingw32-g++-posix
  if [ -n "$launcher" ]; then cc="ccache $cc"; cxx="ccache $cxx"; fi
  (cd "$src" && make -s -j"$jobs" OS=mingw_nt ARCH=x86_64 USE_ASM=Yes \
      CC="$cc" CXX="$cxx" AR=x86_64-w64-mingw32-ar \
      LDFLAGS="-static -static-libgcc -static-libstdc++ $src/openh264.def" libopenh264.dll)
  mkdir -p "$out/include/wels"
  cp "$src"/codec/api/wels/*.h "$out/include/wels/"
  # BSD licence: its notice goes with every copy of the DLL.
  cp "$src/LICENSE" "$out/openh264-LICENSE.txt"
  x86_64-w64-mingw32-strip -s "$src/libopenh264.dll" -o "$out/openh264.dll.tmp"
  mv "$out/openh264.dll.tmp" "$out/openh264.dll"
  rm -rf "$src" "$out/openh264-dl" "$out"/openh264_*.orig.tar.*
fi

# --- the program -------------------------------------------------------------
cfg=(-S "$here" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake"
     -DCMAKE_BUILD_TYPE=Release -DENABLE_TESTS=$tests
     # -O2: GCC 12 at -O3 reports false -Wrestrict overlaps inside std::string.
     -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG")
if [ -n "$launcher" ]; then
  cfg+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake "${cfg[@]}" >/dev/null
cmake --build "$out" -j"$jobs"

# --- what goes to a Windows PC -------------------------------------------------
dist="$out/dist"
rm -rf "$dist" "$out/vistrel-windows.zip"
mkdir -p "$dist"
x86_64-w64-mingw32-strip -s "$out/zeb_onvif.exe" -o "$dist/zeb_onvif.exe"
cp "$out/openh264.dll" "$dist/"
# Texts with Windows line ends (Notepad before Windows 10 shows one long line).
crlf() { awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }' "$1" > "$2"; }
crlf "$out/openh264-LICENSE.txt" "$dist/openh264-LICENSE.txt"
crlf "$here/packaging/README-Windows.txt" "$dist/README-Windows.txt"
python3 - "$dist" "$out/vistrel-windows.zip" <<'PY'
import os, sys, zipfile
dist, zip_path = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(zip_path + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
    for name in sorted(os.listdir(dist)):
        z.write(os.path.join(dist, name), "Vistrel/" + name)
os.replace(zip_path + ".tmp", zip_path)
PY
# The installer (Program Files, the service, a Start-menu entry, an uninstaller).
"$here/packaging/windows/make-installer.sh" "$dist" "$out/vistrel-setup.exe" \
  "$out/src/app/zeb_onvif.ico"
echo "build-windows: $out/zeb_onvif.exe, $dist/, $out/vistrel-windows.zip, $out/vistrel-setup.exe"
