"""The streaming-warning badge on X11: with warn_live = 1 and warn_pos = 3, the
first ffmpeg viewer brings the badge 14 px from the right edge and 14 px above
the work area's bottom (a simulated 40 px taskbar in _NET_WORKAREA), found in a
screenshot of the X screen; the last viewer leaving hides it. Both log lines."""
import os
import subprocess
import time

from camera import Camera, Xvfb, check, parse_args, run_main

ARGS = parse_args()
SHOTS = os.environ.get("ZEB_UI_SHOTS", "/work/shots-ui")
W, H, TASKBAR = 1280, 800, 40
ROOT = (0xE0, 0xC0, 0x20)


def grab(display, png=None):
    """The root window as RGB bytes (and as a PNG when asked)."""
    env = dict(os.environ, DISPLAY=display)
    raw = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=env,
                         capture_output=True, check=True, timeout=60).stdout
    if png:
        os.makedirs(SHOTS, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(SHOTS, png)], env=env,
                       check=True, timeout=60)
    return raw


def badge_box(raw):
    """Bounding box (left, top, right, bottom exclusive) of what differs from the root colour."""
    xs, ys = [], []
    for y in range(0, H):
        row = raw[y * W * 3:(y + 1) * W * 3]
        for x in range(W):
            if abs(row[3 * x] - ROOT[0]) + abs(row[3 * x + 1] - ROOT[1]) + abs(row[3 * x + 2] - ROOT[2]) > 40:
                xs.append(x)
                ys.append(y)
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


def main():
    with Xvfb(W, H) as x:
        env = dict(os.environ, DISPLAY=x.display)
        subprocess.run(["xsetroot", "-solid", "#%02x%02x%02x" % ROOT], env=env, check=True)
        subprocess.run(["xprop", "-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA",
                        f"0, 0, {W}, {H - TASKBAR}"], env=env, check=True)
        cam = Camera(ARGS.bin, {"warn_live": 1, "warn_pos": 3, "osd_name": 0, "osd_clock": 0},
                     display=x.display)
        with cam:
            cam.wait_for("OSD: local streaming warning armed (corner=3)\n")
            cam.wait_for("RTSP server ready", 60)
            check(badge_box(grab(x.display)) is None, "badge visible before any viewer")
            url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive"
            ff = subprocess.Popen(["ffmpeg", "-loglevel", "error", "-rtsp_transport", "tcp", "-i", url,
                                   "-c", "copy", "-f", "null", "-"], stdin=subprocess.DEVNULL)
            try:
                cam.wait_for("RTSP: connection from 127.0.0.1", 60)
                t0 = time.time()
                cam.wait_for("OSD: streaming warning shown (viewers=1)\n", 60)
                # From the viewer's connection (before its PLAY) to the badge; the
                # badge polls every 500 ms. Bounded generously for a loaded machine.
                shown_after = time.time() - t0
                print(f"badge shown {shown_after:.2f} s after the viewer connected")
                check(shown_after < 3, "badge too slow")
                box = badge_box(grab(x.display, "badge.png"))
                print("badge box", box)
                check(box is not None, "badge not on the screen")
                # Anti-aliased rounded corners may leave the outermost pixel of the box faint.
                check(abs((W - 14) - box[2]) <= 1, f"right margin: {box}")
                check(abs((H - TASKBAR - 14) - box[3]) <= 1, f"bottom margin: {box}")
            finally:
                ff.terminate()
                ff.wait(20)
            t0 = time.time()
            cam.wait_for("OSD: streaming warning hidden\n", 60)
            hidden_after = time.time() - t0
            print(f"badge hidden {hidden_after:.2f} s after the viewer ended")
            check(hidden_after < 3, "badge too slow to hide")
            check(badge_box(grab(x.display)) is None, "badge still visible after the last viewer")


run_main(main)
