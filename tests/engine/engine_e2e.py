"""Helpers of the engine's end-to-end tests: a private network namespace (so
that the default ports are free and nothing reaches the real network) and a
small runner for zeb_onvif with any command line."""

import os
import signal
import subprocess
import sys
import threading
import time


def enter_private_netns():
    """Re-runs this script inside a new network namespace with only loopback up.
    Prints SKIP and exits 0 when namespaces are not available here."""
    if os.environ.get("ZEB_PRIVATE_NETNS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    env = dict(os.environ, ZEB_PRIVATE_NETNS="1")
    probe = subprocess.run(["unshare", "-n", "true"], capture_output=True)
    if probe.returncode != 0:
        print("SKIP: cannot create a network namespace here (needs root): "
              + probe.stderr.decode(errors="replace").strip())
        sys.exit(0)
    os.execvpe("unshare", ["unshare", "-n", "--", sys.executable] + sys.argv, env)


class Run:
    """One zeb_onvif process; output collected in .output (stdout+stderr)."""

    def __init__(self, argv, data_root, display=None, extra_env=None):
        env = dict(os.environ)
        env["ProgramData"] = data_root
        env.pop("DISPLAY", None)
        if display:
            env["DISPLAY"] = display
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        env.update(extra_env or {})
        self.started = time.time()
        self.proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.output = ""
        self._cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            line = raw.decode("utf-8", "replace")
            sys.stdout.write("[cam] " + line)
            sys.stdout.flush()
            with self._cond:
                self.output += line
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def wait_for(self, text, timeout=30):
        deadline = time.time() + timeout
        with self._cond:
            while text not in self.output:
                left = deadline - time.time()
                if left <= 0:
                    raise TimeoutError(f"no {text!r} in the output")
                if self.proc.poll() is not None:
                    self._cond.wait(0.5)
                    if text in self.output:
                        break
                    raise RuntimeError(f"zeb_onvif exited ({self.proc.returncode}) before {text!r}")
                self._cond.wait(min(left, 0.5))
        return time.time() - self.started

    def finish(self, timeout=30):
        """Waits for the process to end by itself; returns its exit code."""
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise
        time.sleep(0.1)
        return self.proc.returncode

    def stop(self, timeout=15):
        """SIGTERM, as a service manager or Ctrl+C would; returns the exit code."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        return self.finish(timeout)

    def alive(self):
        return self.proc.poll() is None


def write(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()
