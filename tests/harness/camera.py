"""Shared pieces of the end-to-end tests: an Xvfb screen, free loopback ports and
a running zeb_onvif with its own data directory and settings file.

Every camera started here announces 127.0.0.1 and has discovery off unless the
test says otherwise (only tests inside their own network namespace may).

Every camera and X server started here is ended when its test ends, also when a
step fails, the script is interrupted (Ctrl-C, SIGTERM, SIGHUP) or exits
without stopping it; a camera also dies with the script that started it, and
copies it relaunched of itself (they leave the process tree) are found by their
data directory and ended too."""

import argparse
import atexit
import ctypes
import os
import random
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


_running = []  # cameras and X servers to end when the script ends


def _end_all():
    for thing in list(_running):
        try:
            thing.__exit__(None, None, None)
        except Exception:  # noqa: BLE001 - ending the rest matters more
            pass


def _on_signal(signum, _frame):
    # Unwinds every `with` block (each ends its own camera), then atexit runs.
    raise SystemExit(128 + signum)


atexit.register(_end_all)
if threading.current_thread() is threading.main_thread():
    for _sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(_sig, _on_signal)


try:  # looked up here: the child between fork and exec must not load anything
    _prctl = ctypes.CDLL(None, use_errno=True).prctl
except (OSError, AttributeError):
    _prctl = None
_PR_SET_PDEATHSIG, _SIGTERM = 1, int(signal.SIGTERM)


def _die_with_parent():
    """In the child before exec: end with the script (PR_SET_PDEATHSIG)."""
    if _prctl is not None:
        _prctl(_PR_SET_PDEATHSIG, _SIGTERM)


def camera_processes(binary, data_root=None):
    """PIDs of running processes of this program (same executable file), only
    those with this data directory (ProgramData) when data_root is given."""
    want = os.path.realpath(binary)
    out = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            if os.path.realpath(f"/proc/{pid}/exe").removesuffix(" (deleted)") != want:
                continue
            if data_root is not None:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if ("ProgramData=" + data_root).encode() not in f.read().split(b"\0"):
                        continue
            out.append(int(pid))
        except OSError:
            continue  # gone, or not ours to read
    return out


def end_processes(pids, timeout=10):
    """SIGTERM, then SIGKILL after the time-out, to processes this script started."""
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    deadline = time.time() + timeout
    while time.time() < deadline and any(os.path.exists(f"/proc/{p}") for p in pids):
        for p in pids:  # reap our own children; others are reaped by init
            try:
                os.waitpid(p, os.WNOHANG)
            except ChildProcessError:
                pass
        time.sleep(0.1)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def parse_args(extra=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="path of zeb_onvif")
    if extra:
        extra(ap)
    return ap.parse_args()


def stop_process(proc, timeout):
    """SIGTERM, then SIGKILL after the time-out, to a child of this script."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def free_port():
    """A TCP port that nothing uses right now (loopback), from below the
    ephemeral range: a port the kernel hands out could become the source port
    of some client's connection before the camera binds it."""
    while True:
        port = random.randrange(20000, 32700)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port


def free_ports(n):
    ports = set()
    while len(ports) < n:
        ports.add(free_port())
    return sorted(ports)


def _start_x_server(argv):
    """Starts an X server that picks its own display number (-displayfd);
    returns (process, ':N')."""
    r, w = os.pipe()
    main = threading.current_thread() is threading.main_thread()
    proc = subprocess.Popen(argv[:1] + ["-displayfd", str(w)] + argv[1:], pass_fds=(w,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            preexec_fn=_die_with_parent if main else None)
    os.close(w)
    buf = b""
    deadline = time.time() + 20
    while not buf.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(r, 16)
        if not chunk:
            break
        buf += chunk
    os.close(r)
    if not buf.strip():
        proc.kill()
        raise RuntimeError(argv[0] + " did not start")
    return proc, ":" + buf.decode().strip()


class Xvfb:
    """A virtual X screen of fixed size; use as a context manager. .display is ':N'."""

    def __init__(self, width=1920, height=1080, depth=24):
        self.size = (width, height)
        self.depth = depth
        self.proc = None
        self.display = None

    def _argv(self):
        # -noreset: a client that connects just as the last one leaves would
        # otherwise be lost in the server's reset and hang in XOpenDisplay.
        return ["Xvfb", "-screen", "0", f"{self.size[0]}x{self.size[1]}x{self.depth}",
                "-nolisten", "tcp", "-noreset"]

    def __enter__(self):
        self.proc, self.display = _start_x_server(self._argv())
        _running.append(self)
        return self

    def env(self):
        e = dict(os.environ)
        e["DISPLAY"] = self.display
        return e

    def __exit__(self, *exc):
        if self in _running:
            _running.remove(self)
        if self.proc:
            stop_process(self.proc, 5)


class Xvnc(Xvfb):
    """An X screen that, unlike Xvfb, can change its size at run time
    (resize(display, '-s', '1280x720')). It opens no network port."""

    def _argv(self):
        return ["Xvnc", "-geometry", f"{self.size[0]}x{self.size[1]}", "-depth", str(self.depth),
                "-SecurityTypes", "None", "-rfbport", "-1", "-localhost", "-nolisten", "tcp"]


def resize(display, *xrandr_args):
    """Changes the screen size of an Xvnc display with xrandr."""
    subprocess.run(["xrandr", *xrandr_args], env=dict(os.environ, DISPLAY=display), check=True,
                   timeout=30, capture_output=True)


def private_netns():
    """Re-runs this script in a new network namespace with only loopback up, so
    that default ports are free and the only adapter is the test's own. Prints
    SKIP and exits 0 where namespaces cannot be made."""
    if os.environ.get("ZEB_PRIVATE_NETNS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    probe = subprocess.run(["unshare", "-n", "true"], capture_output=True)
    if probe.returncode != 0:
        print("SKIP: no network namespace here: " + probe.stderr.decode(errors="replace"))
        sys.exit(0)
    os.execvpe("unshare", ["unshare", "-n", "--", sys.executable] + sys.argv,
               dict(os.environ, ZEB_PRIVATE_NETNS="1"))


class Camera:
    """zeb_onvif with its own data directory. settings: dict of zeb.cfg keys
    (ports default to free loopback ports). Output is collected in .output.
    prefix: a wrapper command line (e.g. unshare) the program runs under."""

    def __init__(self, binary, settings=None, display=None, args=None, env=None,
                 data_root=None, write_cfg=True, background=True, prefix=()):
        self.binary = binary
        self.root = data_root or tempfile.mkdtemp(prefix="zeb-e2e-")
        self.data_dir = os.path.join(self.root, "Orvanta")
        os.makedirs(self.data_dir, exist_ok=True)
        rtsp, onvif, web = free_ports(3)
        self.settings = {"rtsp_port": rtsp, "onvif_port": onvif, "web_port": web,
                         "announce_ip": "127.0.0.1", "discovery": 0}
        self.settings.update(settings or {})
        self.display = display
        self.args = list(args or []) + ["--background"] * background
        self.prefix = list(prefix)
        self.extra_env = env or {}
        self.write_cfg = write_cfg
        self.proc = None
        self.output = ""
        self._lock = threading.Lock()
        self._cond = threading.Condition(self._lock)

    @property
    def cfg_path(self):
        return os.path.join(self.data_dir, "zeb.cfg")

    def port(self, name):
        """The port a server of the camera actually listens on: the requested
        one, unless it was busy (another program on this shared machine may
        take a free port between our choice and the camera's bind) and the
        camera fell back to another, which ports.status then names."""
        try:
            with open(os.path.join(self.data_dir, "ports.status")) as f:
                for line in f.read().split():
                    key, _, values = line.partition("=")
                    fields = values.split(",")
                    if key == name and len(fields) == 3 and fields[2] == "1":
                        return int(fields[1])
        except (OSError, ValueError):
            pass
        return int(self.settings[name + "_port"])

    def write_settings(self):
        with open(self.cfg_path, "w") as f:
            for k, v in self.settings.items():
                f.write(f"{k} = {v}\r\n")

    def start(self, wait_for="  Auth      :", timeout=60):
        if self.proc and self.proc.poll() is None:
            # Already running (e.g. start() inside `with`): a second process
            # would be a copy that nothing ends.
            if wait_for:
                self.wait_for(wait_for, timeout)
            return self
        if self.write_cfg:
            self.write_settings()
        env = dict(os.environ)
        env["ProgramData"] = self.root
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        env.update(self.extra_env)
        # A camera started from the main thread dies with this script; one
        # started from another thread would die with that thread, so it is
        # left to stop() and the atexit handler.
        main = threading.current_thread() is threading.main_thread()
        self.proc = subprocess.Popen(self.prefix + [self.binary] + self.args, env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL,
                                     preexec_fn=_die_with_parent if main else None)
        if self not in _running:
            _running.append(self)
        self._thread = threading.Thread(target=self._reader, daemon=True)
        self._thread.start()
        if wait_for:
            self.wait_for(wait_for, timeout)
        return self

    def _reader(self):
        for raw in iter(self.proc.stdout.readline, b""):
            line = raw.decode("utf-8", "replace")
            sys.stdout.write("[cam] " + line)
            sys.stdout.flush()
            with self._cond:
                self.output += line
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def wait_for(self, pattern, timeout=30):
        """Waits until the output contains pattern (a plain string, or a compiled
        regular expression); returns the match text. Raises on time-out."""
        deadline = time.time() + timeout
        with self._cond:
            while True:
                if isinstance(pattern, re.Pattern):
                    m = pattern.search(self.output)
                    if m:
                        return m.group(0)
                elif pattern in self.output:
                    return pattern
                left = deadline - time.time()
                if left <= 0:
                    raise TimeoutError(f"no {pattern!r} in the camera's output")
                if self.proc.poll() is not None and left > 0.5:
                    # The process ended: give the reader a moment, then fail.
                    self._cond.wait(0.5)
                    if (isinstance(pattern, str) and pattern in self.output) or (
                            isinstance(pattern, re.Pattern) and pattern.search(self.output)):
                        continue
                    raise RuntimeError(
                        f"camera exited ({self.proc.returncode}) before {pattern!r}")
                self._cond.wait(min(left, 0.5))

    def wait_exit(self, timeout=30):
        """Waits for the program to end by itself and for its last output."""
        self.proc.wait(timeout)
        self._thread.join(5)
        return self.proc.returncode

    def stop(self, timeout=10, end_copies=True):
        """Ends the program; with end_copies, also the copies it relaunched of
        itself (a service's cameras are not its copies: they outlive it)."""
        if self in _running:
            _running.remove(self)
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self._thread.join(5)
        # Copies the camera relaunched of itself left the process tree; they
        # share its data directory. Other cameras of this script may share it
        # too (single-instance tests): those are not ours to end here.
        others = {c.proc.pid for c in _running if isinstance(c, Camera) and c.proc}
        left = [p for p in camera_processes(self.binary, self.root)
                if p not in others] if end_copies else []
        if left:
            end_processes(left, timeout)
        return self.proc.returncode if self.proc else None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def check(cond, message):
    """Fails the test with a message (tests run as plain scripts under CTest)."""
    if not cond:
        raise AssertionError(message)


def run_main(fn):
    """Runs a test function, printing PASS/FAIL; exit status for CTest."""
    try:
        fn()
    except Exception as e:  # noqa: BLE001 - any failure fails the test
        import traceback
        traceback.print_exc()
        print(f"FAIL: {e}")
        sys.exit(1)
    print("PASS")
