"""The harness ends the cameras it starts: a script holding a running camera is
ended by SIGTERM, SIGHUP and SIGKILL in turn, and each time its camera (and X
server) must be gone soon after, without anyone calling stop()."""

import os
import signal
import subprocess
import sys
import time

from camera import check, parse_args, run_main

HOLDER = """
import sys, time
from camera import Camera, Xvfb
with Xvfb(640, 480) as x:
    cam = Camera(sys.argv[1], display=x.display).start()
    cam.wait_for("ONVIF HTTP ready")
    print("READY", cam.proc.pid, x.proc.pid, flush=True)
    time.sleep(600)
"""


def gone(pid, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with open(f"/proc/{pid}/stat") as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return True  # ended, waiting to be reaped by its new parent
        except OSError:
            return True
        time.sleep(0.1)
    return False


def main():
    args = parse_args()
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGKILL):
        holder = subprocess.Popen([sys.executable, "-c", HOLDER, args.bin], stdout=subprocess.PIPE,
                                  env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"), text=True)
        try:
            line, seen = [], []
            for text in holder.stdout:  # the camera's own output comes first
                if text.startswith("READY"):
                    line = text.split()
                    break
                seen.append(text)
            if line[:1] != ["READY"]:
                check(False, f"holder did not start a camera (exit {holder.wait(10)}); it wrote:\n" +
                      "".join(seen[-20:]))
            camera_pid, x_pid = int(line[1]), int(line[2])
            holder.send_signal(sig)
            holder.wait(30)
            check(gone(camera_pid), f"{sig.name}: the camera outlived its script")
            check(gone(x_pid), f"{sig.name}: the X server outlived its script")
            print(f"{sig.name}: camera and X server ended with their script")
        finally:
            if holder.poll() is None:
                holder.kill()
                holder.wait()


if __name__ == "__main__":
    run_main(main)
