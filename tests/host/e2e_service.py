"""The camera service's watch loop with real cameras, without logind: two local
users, an Xvfb screen for each, and a session list in a file that the test
rewrites (a switch only test builds know). Checks the sign-in-screen camera,
the sign-in with handover, the camera back after kill -9, the move on a
session switch, one engine at a time throughout, and that stopping the
service leaves the user's camera running. Prints the two timings."""

import os
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from camera import Camera, Xvfb, check, parse_args, run_main
from local_users import LocalUsers, camera_pids, kill_cameras


def ps_line(pid):
    return subprocess.run(["ps", "-ww", "e", "-o", "uid=,args=", "-p", str(pid)],
                          capture_output=True, text=True).stdout.strip()


def streams(port, timeout):
    """Waits until ffprobe reads the main stream; returns the time it took."""
    start = time.time()
    while time.time() - start < timeout:
        r = subprocess.run(["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-show_streams",
                            f"rtsp://127.0.0.1:{port}/screenlive"],
                           capture_output=True, text=True, timeout=30)
        if r.returncode == 0 and "codec_name=h264" in r.stdout:
            return time.time() - start
        time.sleep(0.2)
    raise TimeoutError("no stream within %d s" % timeout)


def wait_until(cond, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        v = cond()
        if v:
            return v
        time.sleep(0.05)
    raise TimeoutError(what)


def main():
    args = parse_args()
    root = tempfile.mkdtemp(prefix="zeb-svc-")
    os.chmod(root, 0o755)
    sessions = Path(root, "sessions")
    service = None
    stop_sampling = threading.Event()
    overlaps = []

    def write_sessions(text):
        tmp = sessions.with_suffix(".tmp")
        tmp.write_text(text)
        tmp.rename(sessions)

    def sampler():
        while not stop_sampling.is_set():
            pids = camera_pids(root)
            if len(pids) > 1:
                overlaps.append(pids)
            time.sleep(0.05)

    with LocalUsers("a", "b") as users:
        try:
            with Xvfb(640, 480) as xa, Xvfb(640, 480) as xb:
                uid = users.uids
                greeter = f"session id=g0 active=1 class=greeter type=x11 uid=0 display={xa.display}\n"
                user_a = f"session id=c1 active=%d class=user type=x11 uid={uid[0]} display={xa.display}\n"
                user_b = f"session id=c2 active=%d class=user type=x11 uid={uid[1]} display={xb.display}\n"
                write_sessions("console g0\n" + greeter)
                service = Camera(args.bin, data_root=root, background=False,
                                 args=["--service", "--session-file", str(sessions)],
                                 settings={"fps": 5})
                service.start(wait_for="Service: Vistrel running")
                port = service.port("rtsp")
                threading.Thread(target=sampler, daemon=True).start()

                # Nobody signed in: the sign-in-screen camera, as root.
                streams(port, 90)
                (pid,) = camera_pids(root)
                line = ps_line(pid)
                print("greeter camera:", line)
                check(line.startswith("0 ") and "--background --logon-screen --handover" in line
                      and f"DISPLAY={xa.display}" in line, line)

                # A's sign-in: the greeter camera gives way to A's, with --handover.
                write_sessions("console c1\n" + greeter.replace("active=1", "active=0")
                               + user_a % 1)
                service.wait_for("Service: camera started in session c1", 30)
                streams(port, 90)
                (pid,) = camera_pids(root)
                line = ps_line(pid)
                print("user camera:", line)
                check(line.startswith(f"{uid[0]} ") and "--background --handover" in line
                      and "--logon-screen" not in line and f"DISPLAY={xa.display}" in line, line)

                # kill -9: a new camera of A's within 4 s, and how long to streaming.
                os.kill(pid, signal.SIGKILL)
                killed = time.time()
                new = wait_until(lambda: [p for p in camera_pids(root) if p != pid], 10,
                                 "no new camera after kill -9")
                back = time.time() - killed
                check(back < 4.0, f"new camera after {back:.1f} s")
                streaming_after_kill = back + streams(port, 90)

                # Switch to B: the camera moves to B's user and screen.
                write_sessions("console c2\n" + user_a % 0 + user_b % 1)
                switched = time.time()
                wait_until(lambda: [p for p in camera_pids(root)
                                    if p not in new and os.stat(f"/proc/{p}").st_uid == uid[1]],
                           20, "no camera for B")
                streaming_after_switch = time.time() - switched + streams(port, 90)
                (pid,) = camera_pids(root)
                line = ps_line(pid)
                check(line.startswith(f"{uid[1]} ") and f"DISPLAY={xb.display}" in line, line)

                # Stopping the service leaves B's camera running.
                check(service.stop(30, end_copies=False) == 0, "service exit code")
                check("Service: stopped" in service.output, "no stop line")
                check(camera_pids(root) == [pid], "the user's camera ended with the service")
                stop_sampling.set()
                check(not overlaps, f"two cameras at once: {overlaps[:3]}")
                check(os.stat(Path(root, "Orvanta", "ports.status")).st_uid in uid,
                      "a user's camera could not write the shared data directory")
                print(f"FIGURE kill -9 -> new camera process: {back:.1f} s")
                print(f"FIGURE kill -9 -> new camera streaming: {streaming_after_kill:.1f} s")
                print(f"FIGURE session switch -> new camera streaming: {streaming_after_switch:.1f} s")
        finally:
            stop_sampling.set()
            if service:
                service.stop(30)
            kill_cameras(root)


if __name__ == "__main__":
    run_main(main)
