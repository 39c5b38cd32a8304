#!/usr/bin/env bash
# Builds the Windows installer from the folder build-windows.sh prepares:
#   packaging/windows/make-installer.sh DIST_DIR OUT_EXE [ICON]
# DIST_DIR holds zeb_onvif.exe, openh264.dll, openh264-LICENSE.txt and
# README-Windows.txt; ICON, the program's .ico, becomes the installer's and
# the uninstaller's icon. Needs Debian's makensis (package nsis).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 2 ] || [ $# -gt 3 ]; then echo "usage: $0 DIST_DIR OUT_EXE [ICON]" >&2; exit 2; fi
dist=$(cd "$1" && pwd)
out=$2
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt" | head -n1)
icon=()
if [ $# -eq 3 ]; then icon=(-DICON="$(cd "$(dirname "$3")" && pwd)/$(basename "$3")"); fi
makensis -V2 -DDIST="$dist" -DOUTFILE="$out.tmp" -DVERSION="${version:-1.0.0}" "${icon[@]}" \
  "$here/vistrel.nsi"
mv "$out.tmp" "$out"
