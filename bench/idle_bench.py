#!/usr/bin/env python3
"""What the camera costs for what changes on screen: CPU ms per frame of the
camera process (zeb_onvif, main and sub stream, 10 fps, one viewer) on a
private 1920x1080 Xvfb screen, for

  still   a still text desktop (the clock plate ticking once a second),
  window  a 400x300 window changing every frame,
  video   a full-screen picture changing every frame,

each on the damage path, on the whole-frame path (damage_capture = 0) and
beside GStreamer's ximagesrc use-damage=true ! videoconvert ! openh264enc at
the same size, rate and bit rate (main stream only), in the same run.

  bench/idle_bench.py --bin build-rel/zeb_onvif [--seconds 30]
  (use a Release build; figures are CPU time, not wall time)"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "rtsp"))
from camera import Camera, Xvfb, parse_args  # noqa: E402
from viewers import Viewer, cpu_seconds  # noqa: E402

W, H, FPS, KBPS = 1920, 1080, 10, 2000
def text_desktop(path):
    cmd = ["convert", "-size", f"{W}x{H}", "xc:#dfe4ea", "-fill", "white", "-draw",
           f"rectangle 120,20 1500,{H - 20}", "-font", "DejaVu-Sans", "-pointsize", "15",
           "-fill", "#202020"]
    for i in range(52):
        cmd += ["-annotate", f"+140+{50 + i * 19}",
                f"{i:05d}  The quick brown fox jumps over the lazy dog; a still text desktop 0123456789"]
    subprocess.run(cmd + [path], check=True, timeout=300)


def sdl_window(display, source, x, y):
    env = dict(os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11")
    return subprocess.Popen(["ffmpeg", "-v", "error", "-re", "-f", "lavfi", "-i", source, "-f", "sdl2",
                             "-window_x", str(x), "-window_y", str(y), "-window_borderless", "1", "bench"],
                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def camera_cost(binary, display, damage, seconds):
    settings = {"web_admin": 0, "substream": 1, "fps": FPS, "bitrate": KBPS,
                "damage_capture": 1 if damage else 0}
    with Camera(binary, settings, display=display) as cam:
        v = Viewer(cam.port("rtsp"))
        v.start()
        time.sleep(3)  # start-up and the first keyframes
        c0, f0, b0, t0 = cpu_seconds(cam.proc.pid), v.frames, v.bytes, time.time()
        time.sleep(seconds)
        c1, f1, b1, t1 = cpu_seconds(cam.proc.pid), v.frames, v.bytes, time.time()
        v.stop = True
        v.c.close()
    frames = f1 - f0
    return (c1 - c0) * 1000 / max(frames, 1), frames / (t1 - t0), (b1 - b0) * 8 / 1000 / (t1 - t0)


def gstreamer_cost(display, seconds):
    p = subprocess.Popen(["gst-launch-1.0", "-q", "ximagesrc", f"display-name={display}", "use-damage=true",
                          "show-pointer=false", "!", f"video/x-raw,framerate={FPS}/1", "!", "videoconvert", "!",
                          "video/x-raw,format=I420", "!", "openh264enc", f"bitrate={KBPS * 1000}",
                          "usage-type=screen", "rate-control=bitrate", f"gop-size={FPS}", "!", "fakesink"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(3)
        c0 = cpu_seconds(p.pid)
        time.sleep(seconds)
        c1 = cpu_seconds(p.pid)
    finally:
        p.terminate()
        p.wait(10)
    return (c1 - c0) * 1000 / (seconds * FPS)


def main():
    args = parse_args(lambda ap: ap.add_argument("--seconds", type=float, default=30))
    with Xvfb(W, H) as x:
        keeper = subprocess.Popen(["xprop", "-root", "-spy"], env=x.env(), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        desk = f"/tmp/idle-bench-desk-{os.getpid()}.png"
        text_desktop(desk)
        subprocess.run(["display", "-window", "root", desk], env=x.env(), timeout=60)
        os.unlink(desk)
        with open("/proc/loadavg") as f:
            print(f"load average at start: {f.read().split()[:3]}", flush=True)
        print(f"CPU ms per frame, {W}x{H}, {FPS} fps, {KBPS} kbit/s, main + sub stream, one viewer,"
              f" {args.seconds:.0f} s each")
        print(f"{'scene':8} {'damage':>8} {'whole':>8} {'ratio':>7} {'gst':>8}   (frames/s and main"
              " stream kbit/s: damage, whole)")
        scenes = [("still", None), ("window", (f"testsrc=size=400x300:rate={FPS}", 300, 200)),
                  ("video", (f"testsrc2=size={W}x{H}:rate={FPS}", 0, 0))]
        for name, window in scenes:
            win = sdl_window(x.display, *window) if window else None
            try:
                if win:
                    time.sleep(3)
                d, d_fps, d_kbps = camera_cost(args.bin, x.display, True, args.seconds)
                f, f_fps, f_kbps = camera_cost(args.bin, x.display, False, args.seconds)
                g = gstreamer_cost(x.display, args.seconds)
            finally:
                if win:
                    win.terminate()
                    win.wait(10)
            print(f"{name:8} {d:8.2f} {f:8.2f} {d / f:6.0%} {g:8.2f}   ({d_fps:.2f} fps {d_kbps:.0f} kbit/s,"
                  f" {f_fps:.2f} fps {f_kbps:.0f} kbit/s)", flush=True)
        with open("/proc/loadavg") as f:
            print(f"load average at end: {f.read().split()[:3]}")
        keeper.terminate()
        keeper.wait(10)


if __name__ == "__main__":
    main()
