"""Throw-away local accounts for the host tests, removed again on exit (also
on failure). useradd and userdel lock the account files, so a run beside
another test that adds users retries until the lock is free."""

import os
import pwd
import subprocess
import time


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
