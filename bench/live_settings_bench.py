"""Live-settings latency: the time from rewriting a live key in the settings
file (osd_clock_pos, moving the clock between two corners) to the first frame
of the sub stream, as ffmpeg decodes it, that shows the clock in its new
place. Each change comes at a random moment of the watcher's 2 s period.
Prints the median and the worst of 20 changes."""

import argparse
import os
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "harness"))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "settings"))
from camera import Camera, Xvfb  # noqa: E402
from settings_e2e import StreamView, corners, set_keys  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--changes", type=int, default=20)
    args = ap.parse_args()
    with Xvfb(1280, 720) as x:
        subprocess.run(["xsetroot", "-solid", "#808080"], env=x.env(), check=True)
        settings = {"osd_name": 0, "osd_clock": 1, "osd_clock_pos": 1, "web_admin": 0}
        with Camera(args.bin, settings, display=x.display) as cam:
            cam.wait_for("RTSP server ready", 60)
            view = StreamView(f"rtsp://127.0.0.1:{cam.port('rtsp')}/screensub")
            c = corners()
            at = lambda k: lambda f: view.differs(f, c[k], 0x80)
            try:
                view.wait_frame(at("tr"), 60, "the clock top-right")
                times = []
                for i in range(args.changes):
                    pos, corner = (3, "br") if i % 2 == 0 else (1, "tr")
                    # A user's change lands anywhere in the watcher's 2 s period.
                    time.sleep(random.uniform(0, 2))
                    set_keys(cam.cfg_path, osd_clock_pos=pos)
                    times.append(view.wait_frame(at(corner), 15, f"the clock at {corner}"))
            finally:
                view.close()
    ms = sorted(t * 1000 for t in times)
    print(f"live key -> first frame showing it, {len(ms)} changes: median {statistics.median(ms):.0f} ms, "
          f"worst {ms[-1]:.0f} ms, best {ms[0]:.0f} ms")


main()
