"""One engine per PC across local users, in the shared data directory: while
user A's engine holds the lock, an interactive start by user B finds no panel
of its own user to ask (panel.sock answers its owner only), so after about
4 s of retries it becomes panel-only with the log line and binds nothing.
B's "Apply & restart" request (restart.req, written through the shared
rights) ends A's engine, for the service to start it again. A relaunch
waits for the lock while its holder ends, and at most about 6 s."""

import fcntl
import os
import re
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from camera import Camera, Xvfb, check, parse_args, run_main
from local_users import LocalUsers, kill_cameras

# Default ACL: user, group and others rwx, inherited by new files.
DEFAULT_ACL = (b"\x02\x00\x00\x00" + b"\x01\x00\x07\x00\xff\xff\xff\xff"
               + b"\x04\x00\x07\x00\xff\xff\xff\xff" + b"\x20\x00\x07\x00\xff\xff\xff\xff")


def as_user(name):
    return ["setpriv", f"--reuid={name}", f"--regid={name}", "--init-groups", "--"]


def main():
    args = parse_args()
    root = tempfile.mkdtemp(prefix="zeb-inst-")
    os.chmod(root, 0o755)
    data = Path(root, "Orvanta")
    data.mkdir()
    os.chmod(data, 0o777)
    os.setxattr(data, "system.posix_acl_default", DEFAULT_ACL)
    cams = []
    with LocalUsers("a", "b") as accounts:
        try:
            with Xvfb(640, 480) as x:
                users = accounts.names
                a = Camera(args.bin, display=x.display, data_root=root, prefix=as_user(users[0]))
                cams.append(a)
                a.start()
                a.wait_for("RTSP server ready", 60)
                check(os.stat(data / "panel.sock").st_mode & 0o777 == 0o600, "panel.sock rights")

                b = Camera(args.bin, display=x.display, data_root=root, write_cfg=False,
                           background=False, prefix=as_user(users[1]))
                b.settings = a.settings
                cams.append(b)
                started = time.time()
                b.start(wait_for="Panel-only mode: the camera runs in another session on this PC\n",
                        timeout=60)
                waited = time.time() - started
                print(f"FIGURE panel-only after {waited:.1f} s")
                check(waited >= 3.5, f"panel-only after only {waited:.1f} s")
                check(b.proc.poll() is None, "panel-only instance ended")
                port = int(a.wait_for(re.compile(r"RTSP main : rtsp://127.0.0.1:(\d+)")).rsplit(":", 1)[1])
                with socket.socket() as s:  # A still serves its port
                    s.connect(("127.0.0.1", port))
                check("RTSP server ready" not in b.output, "the panel-only instance started a server")

                # B's apply-and-restart: A's engine takes the request and ends.
                subprocess.run(as_user(users[1]) + ["sh", "-c", f"printf 1 > {data}/restart.req"],
                               check=True)
                asked = time.time()
                check(a.proc.wait(30) == 0, "engine exit code")
                print(f"FIGURE restart.req -> engine ended: {time.time() - asked:.1f} s")
                check(not (data / "restart.req").exists(), "restart.req left behind")
                check(b.stop(20) == 0, "panel-only exit code")

                # A relaunch waits for the lock: its holder lets go after 2 s, or
                # never (then the relaunch goes on after its 60 x 100 ms).
                def relaunch():
                    r = Camera(args.bin, display=x.display, data_root=root, write_cfg=False,
                               args=["--relaunch"])
                    r.settings = a.settings
                    cams.append(r)
                    return r.start(wait_for=None)

                def lock_taken():
                    with open(data / "instance.lock", "rb") as f:
                        try:
                            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                            return False
                        except BlockingIOError:
                            return True

                holder = open(data / "instance.lock", "rb")
                fcntl.flock(holder, fcntl.LOCK_EX)
                t0 = time.time()
                r = relaunch()
                time.sleep(2.0)  # the predecessor's own time to end
                check("===" not in r.output, "relaunch became the engine while the lock was held")
                holder.close()
                deadline = time.time() + 30
                while not lock_taken() and time.time() < deadline:
                    time.sleep(0.02)
                check(lock_taken(), "the relaunch never took the lock")
                print(f"FIGURE relaunch, holder ends after 2 s -> lock taken: {time.time() - t0:.1f} s")
                r.wait_for("  Auth      :", 60)
                check(r.stop(20) == 0, "relaunched engine exit code")

                holder = open(data / "instance.lock", "rb")
                fcntl.flock(holder, fcntl.LOCK_EX)
                t0 = time.time()
                r = relaunch()
                r.wait_for("  Auth      :", 60)
                took = time.time() - t0
                print(f"FIGURE relaunch, holder never ends -> engine: {took:.1f} s")
                check(took >= 5.8, f"relaunch gave up waiting after {took:.1f} s")
                check(r.stop(20) == 0, "relaunched engine exit code")
                holder.close()
        finally:
            for c in cams:
                c.stop(10)
            kill_cameras(root)


if __name__ == "__main__":
    run_main(main)
