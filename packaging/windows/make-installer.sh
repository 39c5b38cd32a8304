#!/usr/bin/env bash
# Builds the Windows installer from the folder build-windows.sh prepares:
#   packaging/windows/make-installer.sh DIST_DIR OUT_EXE
# DIST_DIR holds zeb_onvif.exe, openh264.dll, openh264-LICENSE.txt and
# README-Windows.txt. Needs Debian's makensis (package nsis).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 2 ]; then echo "usage: $0 DIST_DIR OUT_EXE" >&2; exit 2; fi
dist=$(cd "$1" && pwd)
out=$2
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt" | head -n1)
makensis -V2 -DDIST="$dist" -DOUTFILE="$out.tmp" -DVERSION="${version:-1.0.0}" \
  "$here/vistrel.nsi"
mv "$out.tmp" "$out"
