"""Pieces the settings end-to-end tests share: a live view of the sub stream
through ffmpeg, the processes of one test camera (a relaunched engine is not
the test's child), and editing the settings file the way the panels do."""

import os
import signal
import subprocess
import threading
import time
from pathlib import Path

from camera import stop_process

W, H = 640, 360  # sub stream of a 1280x720 screen


class StreamView:
    """ffmpeg playing a stream as raw grey frames; .latest() is the newest
    frame and when it arrived. Also records the arrival time of every frame."""

    def __init__(self, url, w=W, h=H):
        self.size = w * h
        self.w, self.h = w, h
        self.proc = subprocess.Popen(
            ["ffmpeg", "-v", "error", "-rtsp_transport", "tcp", "-i", url, "-an",
             "-f", "rawvideo", "-pix_fmt", "gray", "-"],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.cond = threading.Condition()
        self.frames = 0
        self.frame = None
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while True:
            buf = self.proc.stdout.read(self.size)
            if not buf or len(buf) < self.size:
                break
            with self.cond:
                self.frame = buf
                self.frames += 1
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def wait_frame(self, pred, timeout, what):
        """Waits for a frame (newer than the call) for which pred(frame) holds;
        returns the seconds it took."""
        t0 = time.time()
        with self.cond:
            seen = self.frames
            while True:
                if self.frames > seen and pred(self.frame):
                    return time.time() - t0
                left = t0 + timeout - time.time()
                if left <= 0 or self.proc.poll() is not None:
                    raise AssertionError(f"no frame with {what} within {timeout} s")
                self.cond.wait(left)

    def differs(self, frame, box, ref, tol=24):
        x0, y0, x1, y1 = box
        w = self.w
        return any(abs(frame[y * w + x] - ref) > tol
                   for y in range(y0, y1, 2) for x in range(x0, x1, 2))

    def close(self):
        stop_process(self.proc, 5)


def corners(w=W, h=H):
    cw, ch = w // 4, h // 6
    return {"tl": (0, 0, cw, ch), "tr": (w - cw, 0, w, ch),
            "bl": (0, h - ch, cw, h), "br": (w - cw, h - ch, w, h)}


def camera_pids(cam):
    """Every process running with this camera's own data root: the one the test
    started and any engine it relaunched."""
    pids = []
    needle = ("ProgramData=" + cam.root).encode() + b"\0"
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            env = (entry / "environ").read_bytes()
            exe = os.readlink(entry / "exe")
        except OSError:
            continue
        if needle in env and os.path.basename(exe) == os.path.basename(cam.binary):
            pids.append(int(entry.name))
    return pids


def stop_camera(cam):
    """Stops the test's camera and every engine it relaunched, by process id."""
    cam.stop()
    for pid in camera_pids(cam):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            continue
        for _ in range(100):
            if not Path(f"/proc/{pid}").exists() or _is_zombie(pid):
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)


def _is_zombie(pid):
    try:
        return " Z " in Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return True


def set_keys(cfg_path, **updates):
    """Rewrites keys of the settings file whole, through a rename, as every
    writer of the program does."""
    lines = Path(cfg_path).read_text().splitlines()
    done = set()
    out = []
    for line in lines:
        key = line.split("=", 1)[0].strip() if "=" in line else None
        if key in updates:
            out.append(f"{key} = {updates[key]}")
            done.add(key)
        else:
            out.append(line)
    out += [f"{k} = {v}" for k, v in updates.items() if k not in done]
    tmp = cfg_path + ".tmp"
    Path(tmp).write_text("\r\n".join(out) + "\r\n")
    os.replace(tmp, cfg_path)


def get_osds(port):
    body = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope '
            'xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>'
            '<GetOSDs xmlns="http://www.onvif.org/ver10/media/wsdl"/></s:Body></s:Envelope>')
    r = subprocess.run(["curl", "-s", "--max-time", "20", "-H",
                        "Content-Type: application/soap+xml", "--data-binary", body,
                        f"http://127.0.0.1:{port}/onvif/media_service"],
                       capture_output=True, text=True, timeout=30)
    return r.stdout


def wait_output(cam, pattern, timeout):
    """Like Camera.wait_for, but keeps waiting after the test's process ended:
    a relaunched engine goes on writing to the same output."""
    deadline = time.time() + timeout
    with cam._cond:
        while True:
            m = pattern.search(cam.output) if hasattr(pattern, "search") else (
                pattern if pattern in cam.output else None)
            if m:
                return m
            left = deadline - time.time()
            if left <= 0:
                raise TimeoutError(f"no {pattern!r} in the camera's output")
            cam._cond.wait(min(left, 0.5))


class Packets:
    """ffprobe listing the packets of a stream as they arrive: (arrival, pts, key)."""

    def __init__(self, url):
        self.proc = subprocess.Popen(
            ["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-select_streams", "v",
             "-show_entries", "packet=pts,flags", "-of", "csv=p=0", url],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        self.list = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            parts = line.strip().split(",")
            if len(parts) >= 2 and parts[0].lstrip("-").isdigit():
                with self.cond:
                    self.list.append((time.time(), int(parts[0]), "K" in parts[1]))
                    self.cond.notify_all()

    def wait(self, pred, timeout, what):
        deadline = time.time() + timeout
        with self.cond:
            while not pred(self.list):
                left = deadline - time.time()
                if left <= 0 or self.proc.poll() is not None:
                    raise AssertionError(f"ffprobe never saw {what}")
                self.cond.wait(left)
            return list(self.list)

    def close(self):
        self.proc.kill()
        self.proc.wait()


def run_of(step, n):
    """True when the packet list ends with n deltas of `step` in a row."""
    return lambda p: len(p) > n and all(p[-i][1] - p[-i - 1][1] == step for i in range(1, n + 1))
