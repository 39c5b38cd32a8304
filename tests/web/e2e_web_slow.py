"""300 connections that trickle one byte every 2 s (from ten loopback
addresses other than the browser's) must not stop a normal login and page
load from being answered within 1 s; the camera's thread count stays bounded
and a trickling connection is dropped once its request time is up."""

import os
import socket
import threading
import time

from camera import Camera, Xvfb, check, parse_args, run_main
from web_e2e_common import login, request, status

ATTACKERS = [f"127.0.0.{i}" for i in range(2, 12)]
CONNECTIONS = 300


def threads_of(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("Threads:"):
                return int(line.split()[1])
    return 0


class Trickler(threading.Thread):
    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.stop = threading.Event()
        self.socks = [None] * CONNECTIONS

    def connect(self, i):
        s = socket.socket()
        s.bind((ATTACKERS[i % len(ATTACKERS)], 0))
        s.settimeout(5)
        try:
            s.connect(("127.0.0.1", self.port))
            s.sendall(b"G")
        except OSError:
            s.close()
            return
        s.setblocking(False)
        self.socks[i] = s

    def run(self):
        while not self.stop.is_set():
            for i in range(CONNECTIONS):
                s = self.socks[i]
                if s is None:
                    self.connect(i)
                    continue
                try:
                    s.recv(4096)
                    closed = True  # an answer (503 busy) or the close itself
                except BlockingIOError:
                    closed = False
                except OSError:
                    closed = True
                if not closed:
                    try:
                        s.send(b"E")
                    except OSError:
                        closed = True
                if closed:
                    s.close()
                    self.socks[i] = None
            self.stop.wait(2.0)
        for s in self.socks:
            if s:
                s.close()


def trickle_lifetime(port):
    """Seconds a connection that sends one byte every 2 s stays open."""
    s = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=("127.0.0.12", 0))
    s.settimeout(2.0)
    t0 = time.monotonic()
    try:
        while time.monotonic() - t0 < 60:
            s.sendall(b"G")
            try:
                if not s.recv(4096):
                    break
            except socket.timeout:
                pass
    except OSError:
        pass
    s.close()
    return time.monotonic() - t0


def timed(fn):
    t0 = time.monotonic()
    r = fn()
    return r, time.monotonic() - t0


def main():
    args = parse_args()
    with Xvfb() as x:
        with Camera(args.bin, display=x.display) as cam:
            port = cam.port("web")
            cam.wait_for("Web Admin ready")
            pid = cam.proc.pid
            base_threads = threads_of(pid)
            t = Trickler(port)
            t.start()
            try:
                deadline = time.time() + 90
                while threads_of(pid) < base_threads + 64:
                    check(time.time() < deadline, f"the trickling clients never filled the slots "
                                                  f"({threads_of(pid)} threads)")
                    time.sleep(0.2)
                worst = 0.0
                peak = 0
                for round_ in range(4):
                    token, dt = timed(lambda: login(port))
                    check(token, "login failed under the trickle")
                    worst = max(worst, dt)
                    a, dt = timed(lambda: request(port, "GET", "/", cookie=token))
                    check(status(a) == "200 OK", "panel page: " + status(a))
                    worst = max(worst, dt)
                    a, dt = timed(lambda: request(port, "GET", "/login"))
                    check(status(a) == "200 OK", "login page: " + status(a))
                    worst = max(worst, dt)
                    peak = max(peak, threads_of(pid))
                    print(f"round {round_}: threads {threads_of(pid)}, worst answer {worst * 1000:.0f} ms")
                    time.sleep(4)
                check(worst < 1.0, f"an answer took {worst:.2f} s under the trickle")
                check(peak <= base_threads + 128 + 4, f"{peak} threads (base {base_threads})")
                # A trickling request is dropped once its time is up, answered or not.
                life = trickle_lifetime(port)
                check(life < 10 + 6, f"a trickling connection lived {life:.1f} s")
            finally:
                t.stop.set()
                t.join(30)
            print(f"threads: base {base_threads}, peak {peak}")


if __name__ == "__main__":
    run_main(main)
