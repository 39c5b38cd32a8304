"""A change of the screen size is followed within 30 frames: Xvnc (which, unlike
Xvfb, can be resized with xrandr) starts at 1920x1080 and shrinks to 1280x720
while video_probe captures; then it grows to 1366x768."""

import os
import re
import subprocess
import time

from camera import check, parse_args, run_main

ARGS = parse_args()
PROBE = os.path.join(os.environ["ZEB_BUILD_DIR"], "tests", "video", "video_probe")


class Xvnc:
    def __enter__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvnc", "-displayfd", str(w), "-geometry", "1920x1080", "-depth", "24", "-SecurityTypes", "None",
             "-rfbport", "-1", "-localhost", "-nolisten", "tcp"],
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
        check(buf.strip() != b"", "Xvnc did not start")
        self.display = ":" + buf.decode().strip()
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def resize(display, *args):
    subprocess.run(["xrandr", *args], env=dict(os.environ, DISPLAY=display), check=True, timeout=30,
                   capture_output=True)


def main():
    with Xvnc() as x:
        env = dict(os.environ, DISPLAY=x.display)
        p = subprocess.Popen([PROBE, "watch", "140", "40"], env=env, stdout=subprocess.PIPE, text=True)
        lines = []
        changes = {}  # frame index at which each resize was issued
        for line in p.stdout:
            lines.append(line.rstrip("\n"))
            m = re.match(r"frame (\d+)", line)
            if not m:
                continue
            n = int(m.group(1))
            if n == 10:
                resize(x.display, "-s", "1280x720")
                changes["1280x720"] = n
            elif n == 70:
                resize(x.display, "--fb", "1366x768")
                changes["1366x768"] = n
        p.wait(30)
        out = "\n".join(lines)
        check(p.returncode == 0, f"probe failed:\n{out[-2000:]}")
        check("Capture: screen size changed 1920x1080 -> 1280x720 (re-initialising)" in out, out[-3000:])
        check("Capture: screen size changed 1280x720 -> 1366x768 (re-initialising)" in out, out[-3000:])
        frames = [re.match(r"frame (\d+) (\w+) (\d+)x(\d+)( changed)?", l) for l in lines]
        frames = [(int(m.group(1)), m.group(2), m.group(3) + "x" + m.group(4), bool(m.group(5))) for m in frames if m]
        for size, issued in changes.items():
            seen = [f for f in frames if f[0] > issued and f[3]]
            check(seen, f"no change reported after {size}")
            noticed = seen[0][0]
            check(noticed - issued <= 30, f"{size} noticed {noticed - issued} frames late")
            check(seen[0][2] == size, f"frame {noticed} has size {seen[0][2]}, want {size}")
            after = [f for f in frames if noticed <= f[0] < noticed + 10]
            check(all(f[1] == "ok" and f[2] == size for f in after), f"frames after the change: {after}")
            print(f"{size}: noticed {noticed - issued} frames after the change")


run_main(main)
