"""Throw-away local accounts for the host tests, removed again on exit (also
on failure). useradd and userdel lock the account files, so a run beside
another test that adds users retries until the lock is free. Also finds and
ends the cameras those users run."""

import os
import pwd
import signal
import subprocess
import time
from pathlib import Path


def _retry(argv, ok_codes=(0,)):
    deadline = time.time() + 60
    while True:
        r = subprocess.run(argv, capture_output=True, text=True)
        # 10: the account files are locked by another useradd/userdel.
        if r.returncode in ok_codes or r.returncode != 10 or time.time() > deadline:
            return r
        time.sleep(0.2)


class LocalUsers:
    """with LocalUsers("a", "b") as users: users.names, users.uids"""

    def __init__(self, *suffixes):
        tag = "zh%05d" % (os.getpid() % 100000)
        self.names = [tag + s for s in suffixes]
        self.uids = []

    def __enter__(self):
        try:
            for n in self.names:
                r = _retry(["useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", n])
                if r.returncode != 0:
                    raise RuntimeError(f"useradd {n}: {r.stderr}")
                self.uids.append(pwd.getpwnam(n).pw_uid)
        except Exception:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for n in self.names:
            # -f: a killed camera may still be a zombie of this user.
            _retry(["userdel", "-f", n], ok_codes=(0, 6))  # 6: no such user


def camera_pids(root):
    """Camera processes (not the service) that use this test's data directory."""
    pids = []
    for d in Path("/proc").iterdir():
        if not d.name.isdigit():
            continue
        try:
            if (d / "comm").read_text().strip() != "zeb_onvif":
                continue
            if (d / "stat").read_text().rsplit(")", 1)[1].split()[0] == "Z":
                continue
            env = (d / "environ").read_bytes().split(b"\0")
            argv = (d / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if b"ProgramData=" + root.encode() in env and b"--service" not in argv:
            pids.append(int(d.name))
    return pids


def kill_cameras(root):
    """SIGKILL to the cameras left in this test's data directory."""
    for p in camera_pids(root):
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass
