#!/usr/bin/env python3
"""Video benchmarks on a private 1920x1080 Xvfb screen; prints the figures.

  bench/run_video_bench.py BUILD_DIR [--seconds 30]

BUILD_DIR is a build configured with -DENABLE_BENCH=ON (Release recommended)
and its targets video_bench, step_bench and zeb_onvif built. It runs:
 1. video_bench: conversion (ours vs libyuv ARGBToI420), capture, capture+encode;
 2. the capture-to-encode step at 10 fps and 2000 kbit/s as CPU ms per frame,
    ours (step_bench) beside GStreamer's ximagesrc ! videoconvert ! openh264enc
    with the same size, rate, bit rate and key-frame interval, on the same screen;
 3. the real main-stream bit rate of the camera (zeb_onvif over RTSP, default
    settings) for a static text desktop and a scrolling one (ffmpeg's SDL2
    output scrolls a text page at 300 px/s)."""

import argparse
import os
import re
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
from camera import Camera, Xvfb, camera_processes, end_processes  # noqa: E402

W, H = 1920, 1080


def text_desktop(path, height=H, lines=40):
    cmd = ["convert", "-size", f"{W}x{height}", "xc:#dfe4ea", "-fill", "white", "-draw",
           f"rectangle 120,20 1500,{height - 20}", "-font", "DejaVu-Sans", "-pointsize", "15", "-fill", "#202020"]
    for i in range(lines):
        cmd += ["-annotate", f"+140+{50 + i * 19}",
                f"{i:05d}  The quick brown fox jumps over the lazy dog; static and scrolling text desktop 0123456789"]
    cmd.append(path)
    subprocess.run(cmd, check=True, timeout=300)


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_timed(cmd, env):
    before = children_cpu()
    r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=900)
    return r, children_cpu() - before


class Scroller:
    """Shows a tall text page scrolling at 300 px/s (30 px per frame at 10 fps)
    in a borderless full-screen window: ffmpeg's SDL2 output on the X screen."""

    def __init__(self, display, tmp):
        self.display = display
        self.png = os.path.join(tmp, "tall.png")
        text_desktop(self.png, height=4 * H, lines=220)

    def __enter__(self):
        env = dict(os.environ, DISPLAY=self.display, SDL_VIDEODRIVER="x11")
        self.proc = subprocess.Popen(
            ["ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-loop", "1", "-framerate", "10", "-i", self.png,
             "-vf", f"crop={W}:{H}:0:'mod(n*30,ih-{H})',format=yuv420p", "-f", "sdl2", "-window_x", "0",
             "-window_y", "0", "-window_borderless", "1", "scroll"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(3)
        if self.proc.poll() is not None:
            raise RuntimeError("the scrolling window did not start")
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(10)


def camera_bitrate(build, display, seconds):
    """Bytes of the main stream received over RTSP in `seconds`, as kbit/s."""
    zeb = os.path.join(build, "zeb_onvif")
    if not os.path.exists(zeb):
        return None
    with Camera(zeb, display=display) as cam:
        url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive"
        with tempfile.NamedTemporaryFile(suffix=".h264") as out:
            subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-rtsp_transport", "tcp", "-i", url,
                            "-t", str(seconds), "-c", "copy", "-f", "h264", "-y", out.name],
                           timeout=seconds + 60, capture_output=True)
            size = os.path.getsize(out.name)
    return size * 8 / 1000 / seconds


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--seconds", type=int, default=30)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    frames = args.seconds * 10

    with tempfile.TemporaryDirectory() as tmp, Xvfb(W, H) as x:
        env = dict(os.environ, DISPLAY=x.display)
        keeper = subprocess.Popen(["xprop", "-root", "-spy"], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            desk = os.path.join(tmp, "desk.png")
            text_desktop(desk)
            subprocess.run(["display", "-window", "root", desk], env=env, timeout=60)

            print("== video_bench (1920x1080) ==", flush=True)
            r = subprocess.run([os.path.join(build, "bench", "video_bench"), "--benchmark_repetitions=3",
                                "--benchmark_report_aggregates_only=true"], env=env, capture_output=True,
                               text=True, timeout=900)
            print(r.stdout, flush=True)

            print(f"== capture -> overlays -> convert -> encode, 1080p, 10 fps, 2000 kbit/s, {frames} frames ==")
            r, _ = run_timed([os.path.join(build, "bench", "step_bench"), str(frames), "10", "2000"], env)
            print("ours     :", r.stdout.strip(), flush=True)
            gst_out = os.path.join(tmp, "gst.h264")
            r, cpu = run_timed(["gst-launch-1.0", "-q", "ximagesrc", f"display-name={x.display}", "use-damage=false",
                                "show-pointer=false", f"num-buffers={frames}", "!", "video/x-raw,framerate=10/1",
                                "!", "videoconvert", "!", "video/x-raw,format=I420", "!", "openh264enc",
                                "bitrate=2000000", "usage-type=screen", "rate-control=bitrate", "gop-size=10",
                                "!", "filesink", f"location={gst_out}"], env)
            kbps = os.path.getsize(gst_out) * 8 / 1000 / args.seconds if os.path.exists(gst_out) else 0
            print(f"gstreamer: frames {frames}  cpu_ms_per_frame {cpu * 1000 / frames:.2f}  kbit_per_s {kbps:.0f}"
                  f"  (rc {r.returncode})", flush=True)

            print(f"== real main-stream bit rate over {args.seconds} s (default settings) ==")
            static = camera_bitrate(build, x.display, args.seconds)
            print(f"static text desktop   : {static:.0f} kbit/s" if static is not None else "no zeb_onvif built",
                  flush=True)
            with Scroller(x.display, tmp):
                r, _ = run_timed([os.path.join(build, "bench", "step_bench"), str(frames), "10", "2000"], env)
                print("scrolling (step_bench):", r.stdout.strip(), flush=True)
                scrolling = camera_bitrate(build, x.display, args.seconds)
                if scrolling is not None:
                    print(f"scrolling text desktop: {scrolling:.0f} kbit/s", flush=True)
        finally:
            keeper.terminate()
            keeper.wait(10)


def check_no_camera_left(build):
    """Every camera the benchmark started must be gone."""
    left = camera_processes(os.path.join(os.path.abspath(build), "zeb_onvif"))
    if left:
        print(f"cameras left running: {left}; ending them")
        end_processes(left)
        sys.exit(1)
    print("no zeb_onvif left running")


if __name__ == "__main__":
    try:
        main()
    finally:
        check_no_camera_left(sys.argv[1] if len(sys.argv) > 1 else ".")
