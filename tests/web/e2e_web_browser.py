"""Headless Chromium on the web panel of a real camera (see panel_browser.js).
Screenshots go to $ZEB_SHOTS_DIR when set, else to a temporary folder."""

import os
import subprocess
import tempfile
import threading

from camera import Camera, Xvfb, check, parse_args, run_main

HERE = os.path.dirname(os.path.abspath(__file__))
NODE_MODULES = os.path.join(os.environ.get("ZEB_SOURCE_DIR", os.path.join(HERE, "..", "..")),
                            "tests", "node", "node_modules")


def main():
    args = parse_args()
    shots = os.environ.get("ZEB_SHOTS_DIR") or tempfile.mkdtemp(prefix="zeb-shots-")
    os.makedirs(shots, exist_ok=True)
    with Xvfb() as x:
        stop = threading.Event()

        def flip_screen():  # so that two previews differ
            colours = ["#c04040", "#40a060"]
            i = 0
            while not stop.is_set():
                subprocess.run(["xsetroot", "-solid", colours[i % 2]], env=x.env(), timeout=30)
                i += 1
                stop.wait(1.0)

        flipper = threading.Thread(target=flip_screen, daemon=True)
        flipper.start()
        try:
            with Camera(args.bin, display=x.display) as cam:
                cam.wait_for("Web Admin ready")
                r = subprocess.run(["node", os.path.join(HERE, "panel_browser.js"), str(cam.port("web")), shots],
                                   env=dict(os.environ, NODE_PATH=NODE_MODULES), timeout=240,
                                   capture_output=True, text=True)
                print(r.stdout + r.stderr)
                check(r.returncode == 0 and "BROWSER OK" in r.stdout, "browser run failed")
                print("screenshots in " + shots)
        finally:
            stop.set()
            flipper.join(35)


if __name__ == "__main__":
    run_main(main)
