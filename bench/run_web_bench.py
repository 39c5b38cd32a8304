"""Runs web_bench on a 1920x1080 Xvfb screen showing a detailed picture (a
plain colour would make the JPEG unrealistically cheap). Usage:
run_web_bench.py --bench build/bench/web_bench"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "harness"))
from camera import Xvfb  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", required=True)
    a = ap.parse_args()
    with Xvfb() as x, tempfile.TemporaryDirectory() as d:
        pic = os.path.join(d, "screen.png")
        subprocess.run(["convert", "-size", "1920x1080", "plasma:", "-blur", "0x1", pic], check=True)
        # display paints the root window and exits with 1 even when it worked
        subprocess.run(["display", "-window", "root", pic], env=x.env(), timeout=60)
        return subprocess.run([a.bench], env=x.env()).returncode


if __name__ == "__main__":
    sys.exit(main())
