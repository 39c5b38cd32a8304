#!/bin/bash
# Runs the Windows capture and audio checks under Wine on a private Xvfb
# screen, inside a network namespace of its own (wineserver included).
#   run_capture_check.sh DIR   (DIR holds show_window.exe and capture_check.exe;
#                               the Wine prefix is $WINEPREFIX, else DIR/wineprefix,
#                               made once)
# Writes DIR/capture.ppm and the logs DIR/capture_check.log, DIR/audio_check.log.
set -u
dir=$(cd "${1:?usage: run_capture_check.sh DIR}" && pwd)
if [ "${VISTREL_IN_NETNS:-}" != 1 ]; then
    VISTREL_IN_NETNS=1 exec unshare -n "$0" "$@"
fi
ip link set lo up

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="${WINEPREFIX:-$dir/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
pids=()
. "$(dirname "$0")/end-namespace.sh"
cleanup() {
    # The server first: killing it before its clients leaves Wine's service
    # processes running without it.
    timeout 30 "$wineserver" -k 2>/dev/null
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    end_namespace_processes
    rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 300); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
[ -s "$work/displayfd" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/displayfd")"

mkdir -p "$WINEPREFIX"
. "$(dirname "$0")/wineserver-busy.sh"
if wineserver_busy "$WINEPREFIX"; then
    trap - EXIT
    echo "a wineserver already serves $WINEPREFIX; stop it first (WINEPREFIX=$WINEPREFIX $wineserver -k)"
    rm -rf "$work"
    kill "${pids[@]}" 2>/dev/null
    exit 1
fi
timeout 600 "$wineserver" -f -p >/dev/null 2>&1 &
pids+=($!)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 180 "$wine" wineboot -i >"$work/wineboot.log" 2>&1 || { echo "wineboot failed"; exit 1; }
fi

X=200 Y=150 W=640 H=360
timeout 300 "$wine" "$dir/show_window.exe" $X $Y $W $H >"$work/show.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do grep -q '^show_window: ready' "$work/show.log" && break; sleep 0.1; done
grep -q '^show_window: ready' "$work/show.log" || { echo "show_window did not start"; cat "$work/show.log"; exit 1; }

status=0
timeout 120 "$wine" "$dir/capture_check.exe" $X $Y $W $H 'Z:'"$dir/capture.ppm" 30 \
    >"$dir/capture_check.log" 2>&1 || status=1
tr -d '\r' <"$dir/capture_check.log"
# Audio without a sound server, then with a PulseAudio null sink (the render
# device Wine then offers; its loopback capture is what Wine lacks).
timeout 120 "$wine" "$dir/capture_check.exe" --audio >"$dir/audio_check.log" 2>&1 || status=1
if command -v pulseaudio >/dev/null; then
    export XDG_RUNTIME_DIR="$work/pulse"
    mkdir -p "$XDG_RUNTIME_DIR"
    timeout 300 pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        --load=module-native-protocol-unix --load="module-null-sink sink_name=vs" \
        >"$work/pulse.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl set-default-sink vs
    timeout 120 "$wine" "$dir/capture_check.exe" --audio >>"$dir/audio_check.log" 2>&1 || status=1
fi
tr -d '\r' <"$dir/audio_check.log" | grep -v '^ALSA lib'
exit $status
