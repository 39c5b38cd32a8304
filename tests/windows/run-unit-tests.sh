#!/bin/sh
# Runs the Windows platform unit tests under Wine: in a private network
# namespace (loopback only) with a wineserver of its own, and a Wine prefix
# kept in the build directory (made on first use, about 15 s).
#   tests/windows/run-unit-tests.sh BUILD_DIR [gtest options...]
# Exit status: GoogleTest's (0 = all passed); 125 when the set-up failed.
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [gtest options...]" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
shift
exe="$build_dir/win_platform_tests.exe"
[ -f "$exe" ] || { echo "$exe not found: build the win_platform_tests target first" >&2; exit 125; }
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || { echo "$wine not found (Debian package wine64)" >&2; exit 125; }

export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko installers, no windows: these tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Inside the namespace: stop a wineserver of this prefix that lives outside
# (its sockets would be on the machine's network), start one here, run, stop.
exec unshare -n sh -eu -c '
    ws=$1 wine=$2 exe=$3
    shift 3
    ip link set lo up
    # Multicast (WS-Discovery membership) goes out over loopback here.
    ip route add 224.0.0.0/4 dev lo
    "$ws" -k 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 125; }
    fi
    "$ws" -p5
    rc=0
    timeout 600 "$wine" "$exe" "$@" || rc=$?
    "$ws" -k 2>/dev/null || true
    "$ws" -w 2>/dev/null || true
    exit $rc
' run-unit-tests "$wineserver" "$wine" "$exe" "$@"
