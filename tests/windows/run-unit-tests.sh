#!/bin/bash
# Runs the Windows platform unit tests (win_platform_tests.exe) under Wine, in
# a network namespace of its own (loopback only, wineserver included).
#   run-unit-tests.sh BUILD_DIR [gtest options...]
# The Wine prefix is $WINEPREFIX, else BUILD_DIR/wineprefix (made once, ~15 s).
# Exit status: GoogleTest's (0 = all passed); 125 when the set-up failed.
set -u
dir=$(cd "${1:?usage: run-unit-tests.sh BUILD_DIR [gtest options...]}" && pwd)
if [ "${VISTREL_IN_NETNS:-}" != 1 ]; then
    VISTREL_IN_NETNS=1 exec unshare -n "$0" "$@"
fi
shift
ip link set lo up
# WS-Discovery's multicast membership needs a route; here it is loopback.
ip route add 224.0.0.0/4 dev lo

exe="$dir/win_platform_tests.exe"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -f "$exe" ] || { echo "$exe not found: build win_platform_tests first" >&2; exit 125; }
[ -x "$wine" ] || { echo "$wine not found (Debian package wine64)" >&2; exit 125; }
export WINEPREFIX="${WINEPREFIX:-$dir/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$WINEPREFIX"
. "$(dirname "$0")/wineserver-busy.sh"
if wineserver_busy "$WINEPREFIX"; then
    echo "a wineserver already serves $WINEPREFIX; stop it first (WINEPREFIX=$WINEPREFIX $wineserver -k)" >&2
    exit 125
fi
timeout 900 "$wineserver" -f -p >/dev/null 2>&1 &
server=$!
. "$(dirname "$0")/end-namespace.sh"
cleanup() {
    timeout 30 "$wineserver" -k 2>/dev/null
    wait "$server" 2>/dev/null
    end_namespace_processes
}
trap cleanup EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 125; }
fi
rc=0
timeout 600 "$wine" "$exe" "$@" || rc=$?
exit $rc
