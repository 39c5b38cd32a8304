"""A screen-size change while a client plays: the encoders are re-opened at the
new size (the scaled main stream keeps its width), an IDR frame follows, and
new clients receive the new size. The screen is TigerVNC's X server (no
network port), which can change its size at run time."""

import base64
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, check, parse_args, run_main  # noqa: E402
from rtsp_client import RtspClient  # noqa: E402

args = parse_args()


class Xvnc:
    def __enter__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvnc", "-displayfd", str(w), "-geometry", "1920x1080", "-depth", "24",
                                      "-SecurityTypes", "None", "-rfbport", "-1", "-localhost", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        buf = b""
        deadline = time.time() + 20
        while not buf.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            buf += chunk
        os.close(r)
        check(buf.strip(), "Xvnc did not start")
        self.display = ":" + buf.decode().strip()
        return self

    def env(self):
        return dict(os.environ, DISPLAY=self.display)

    def __exit__(self, *exc):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def probe(url):
    out = subprocess.run(["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-select_streams", "v:0",
                          "-show_entries", "stream=width,height", "-of", "json", url],
                         capture_output=True, text=True, timeout=60)
    s = json.loads(out.stdout)["streams"][0]
    return s["width"], s["height"]


def main():
    with Xvnc() as x:
        settings = {"main_width": 1280, "sub_width": 640, "log_verbose": 1}
        with Camera(args.bin, settings, display=x.display) as cam:
            cam.wait_for("RTSP server ready", 60)
            port = cam.port("rtsp")
            url = f"rtsp://127.0.0.1:{port}/screenlive"
            check(probe(url) == (1280, 720), "main size before the change")
            c = RtspClient(port)
            c.play("/screenlive")
            c.read_frames(count=5)
            r = subprocess.run(["xrandr", "--fb", "1920x1200"], env=x.env(), capture_output=True, text=True)
            check(r.returncode == 0, f"xrandr: {r.stderr}")
            cam.wait_for("RTSP: re-initialised encoders for 1280x800", 15)
            frames = c.read_frames(seconds=2)
            c.close()
            steps = [frames[i + 1][0] - frames[i][0] for i in range(len(frames) - 1)]
            check(set(steps) == {9000}, f"timestamps around the change: {set(steps)}")
            check(any(5 in f[1] and 7 in f[1] for f in frames), "no IDR with SPS after the change")
            check(probe(url) == (1280, 800), "main size after the change")
            # The SDP of later clients carries the new SPS, the one sent in band.
            c = RtspClient(port)
            sdp = c.request("DESCRIBE", "/screenlive")[2]
            c.close()
            sprop = re.search(r"sprop-parameter-sets=([^,]*),", sdp).group(1)
            key = [f for f in frames if 7 in f[1]][-1]
            sps = [n for n in key[2].split(b"\0\0\0\1") if n and n[0] & 0x1F == 7][0]
            check(base64.b64decode(sprop) == sps, "SDP still announces the old SPS")
            check(probe(f"rtsp://127.0.0.1:{port}/screensub") == (640, 360), "sub keeps its size")
            check(cam.proc.poll() is None, "camera died")


run_main(main)
