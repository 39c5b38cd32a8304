#!/usr/bin/env python3
"""RTSP server figures on a 1920x1080 Xvfb screen at 10 fps (main + sub stream):

1. server CPU per produced frame with 1 viewer and with 20 viewers (the extra
   cost of a viewer), from the camera process's own CPU time;
2. delay from a screen change to the arrival of the first RTP packet of the
   first frame that shows it (median and 95th percentile over 50 changes).

Usage: rtsp_bench.py --bin build-rel/zeb_onvif   (use a release build)"""

import os
import random
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "rtsp"))
from camera import Camera, Xvfb, camera_processes, end_processes, parse_args  # noqa: E402
from rtsp_client import RtspClient  # noqa: E402
from viewers import Viewer, cpu_seconds  # noqa: E402

args = parse_args(lambda ap: ap.add_argument("--seconds", type=float, default=20))
def cpu_per_frame(cam, port, viewers):
    vs = [Viewer(port, "/screenlive" if i % 2 == 0 else "/screensub") for i in range(viewers)]
    for v in vs:
        v.start()
    time.sleep(3)  # settle
    c0, f0, t0 = cpu_seconds(cam.proc.pid), vs[0].frames, time.time()
    time.sleep(args.seconds)
    c1, f1, t1 = cpu_seconds(cam.proc.pid), vs[0].frames, time.time()
    for v in vs:
        v.stop = True
        v.c.close()
    time.sleep(1)
    frames = f1 - f0  # frames produced (one viewer sees every main frame)
    return (c1 - c0) / frames * 1000, (c1 - c0) / (t1 - t0) * 100, frames / (t1 - t0)


def decode_luma(frames):
    """Mean luma of each access unit, decoded by ffmpeg in order."""
    data = b"".join(f[2] for f in frames)
    r = subprocess.run(["ffmpeg", "-v", "error", "-f", "h264", "-i", "-", "-vf", "scale=8:8,format=gray",
                        "-fps_mode", "passthrough", "-f", "rawvideo", "-"], input=data, capture_output=True)
    out = r.stdout
    return [sum(out[i:i + 64]) / 64 for i in range(0, len(out), 64)]


def change_delay(display_env, port, changes=50):
    c = RtspClient(port)
    c.play("/screenlive")
    frames = []
    done = threading.Event()

    def reader():
        while not done.is_set():
            frames.extend(c.read_frames(count=1))

    t = threading.Thread(target=reader, daemon=True)
    t.start()
    time.sleep(2)
    marks = []
    colours = ["#000000", "#ffffff"]
    subprocess.run(["xsetroot", "-solid", colours[0]], env=display_env)
    time.sleep(1)
    for i in range(changes):
        subprocess.run(["xsetroot", "-solid", colours[(i + 1) % 2]], env=display_env)
        marks.append((time.time(), (i + 1) % 2))
        time.sleep(random.uniform(0.35, 0.6))
    time.sleep(1)
    done.set()
    t.join(5)
    c.close()
    luma = decode_luma(frames)
    n = min(len(luma), len(frames))
    delays = []
    for when, target in marks:
        for i in range(n):
            bright = luma[i] > 128
            if frames[i][4] >= when and bright == (target == 1):
                delays.append((frames[i][4] - when) * 1000)
                break
    return delays


class Painter(threading.Thread):
    """Keeps the screen moving: alternates two full-screen noise pictures."""

    def __init__(self, env, tmp):
        super().__init__(daemon=True)
        self.env = env
        self.pics = []
        for name in ("a", "b"):
            path = os.path.join(tmp, name + ".png")
            subprocess.run(["convert", "-size", "1920x1080", "xc:", "+noise", "Random", path], check=True)
            self.pics.append(path)
        self.stop = False

    def run(self):
        i = 0
        while not self.stop:
            subprocess.run(["display", "-window", "root", self.pics[i % 2]], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            i += 1
            time.sleep(0.2)


def report_cpu(cam, port, label):
    one_ms, one_pct, one_fps = cpu_per_frame(cam, port, 1)
    twenty_ms, twenty_pct, twenty_fps = cpu_per_frame(cam, port, 20)
    print(f"server CPU per frame, 1080p main + 640 sub at 10 fps, {label}:")
    print(f"   1 viewer : {one_ms:6.2f} ms CPU per frame ({one_pct:.1f}% of a core, {one_fps:.1f} fps delivered)")
    print(f"  20 viewers: {twenty_ms:6.2f} ms CPU per frame ({twenty_pct:.1f}% of a core, {twenty_fps:.1f} fps delivered)")
    print(f"  extra cost of a viewer: {(twenty_ms - one_ms) / 19 * 1000:.0f} us CPU per frame")


def main():
    import tempfile
    with Xvfb(1920, 1080) as x:
        settings = {"osd_name": 0, "osd_clock": 0, "fps": 10}
        with Camera(args.bin, settings, display=x.display) as cam:
            cam.wait_for("RTSP server ready", 60)
            port = cam.port("rtsp")
            delays = change_delay(x.env(), port)
            report_cpu(cam, port, "static screen")
            painter = Painter(x.env(), tempfile.mkdtemp(prefix="zeb-bench-"))
            painter.start()
            report_cpu(cam, port, "moving screen (full-screen noise, 5 changes/s)")
            painter.stop = True
            painter.join()
            if len(delays) < 40:
                print(f"screen change to first packet: only {len(delays)} changes matched")
                sys.exit(1)
            delays.sort()
            p95 = delays[min(len(delays) - 1, int(round(0.95 * len(delays))) - 1)]
            print(f"screen change -> first packet of the frame showing it, {len(delays)} changes: "
                  f"median {statistics.median(delays):.0f} ms, p95 {p95:.0f} ms, max {delays[-1]:.0f} ms")

if __name__ == "__main__":
    try:
        main()
    finally:
        left = camera_processes(args.bin)  # every camera this benchmark started must be gone
        if left:
            print(f"cameras left running: {left}; ending them")
            end_processes(left)
            sys.exit(1)
        print("no zeb_onvif left running")
