#!/bin/sh
# Cross-builds tests/windows/paint_check.exe with the Windows painter and JPEG
# encoder and runs it under Wine: the numbers it checks decide the exit status,
# and it leaves the overlay, paused and JPEG pictures in OUT for a look.
# usage: tests/windows/run_paint_check.sh OUT [BUILD_DIR]   (from the repository root)
#        tests/windows/run_paint_check.sh --run EXE OUT      (EXE built by CMake; the
#        prefix is $WINEPREFIX, else wineprefix beside EXE)
set -eu
if [ "${1:-}" = --run ]; then
    exe=$(realpath "${2:?paint_check.exe}")
    out=$(realpath -m "${3:?output directory}")
    mkdir -p "$out"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        WINEPREFIX="${WINEPREFIX:-$(dirname "$exe")/wineprefix}"
    status=0
    timeout 150 /usr/lib/wine/wine64 "$exe" "Z:$(echo "$out" | tr / '\\\\')" || status=$?
    timeout 30 /usr/lib/wine/wineserver -k || true
    exit $status
fi
out=$(realpath -m "${1:?output directory}")
build=$(realpath -m "${2:-build-win/paint_check}")
mkdir -p "$out" "$build"
cxx="x86_64-w64-mingw32-g++-posix -std=c++20 -Isrc -I$build -DUNICODE -D_UNICODE \
  -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0A00 -Wall -Wextra -O2"
# The logo as the Linux build embeds it.
{
    echo '#include "video/logo_data.h"'
    echo 'const uint8_t k_logo_png[] = {'
    od -An -v -tx1 resources/logo.png | sed 's/ *\([0-9a-f][0-9a-f]\)/0x\1,/g'
    echo '};'
    echo "const size_t k_logo_png_size = $(wc -c < resources/logo.png);"
} > "$build/logo_data.cpp"
objs=""
for src in src/video/painter_win.cpp src/video/jpeg_encoder_win.cpp src/video/overlay.cpp \
           src/video/paused_picture.cpp tests/windows/paint_check.cpp "$build/logo_data.cpp"; do
    obj="$build/$(basename "$src" .cpp).o"
    $cxx -c "$src" -o "$obj"
    objs="$objs $obj"
done
$cxx -static -o "$build/paint_check.exe" $objs -lgdiplus -lole32 -luuid

export WINEDEBUG=-all WINEPREFIX="${WINEPREFIX:-$PWD/build-win/wineprefix}"
status=0
timeout 300 /usr/lib/wine/wine64 "$build/paint_check.exe" "Z:$(echo "$out" | tr / '\\\\')" || status=$?
/usr/lib/wine/wineserver -k || true
exit $status
