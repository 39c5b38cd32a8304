#!/usr/bin/env python3
"""Fan-out at scale: one camera (Release build, 1920x1080 Xvfb, 10 fps, main and
sub stream, a 400x300 window changing every frame) and 200 copying viewers of
the main stream, split across a few raw-socket client processes. Prints the
share of frames that reached each viewer, the encoder's pictures per second
(it must stay one per frame per stream) and the camera's CPU for delivery:
total minus the single-viewer figure, per viewer and in total.

  bench/fanout_bench.py --bin build-rel/zeb_onvif [--viewers 200]
                        [--processes 4] [--seconds 300]

The RTSP server takes at most 256 connections, and at most 32 from one address,
so the viewers connect from several loopback addresses (127.0.1.x, 25 each)."""

import json
import os
import re
import selectors
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "rtsp"))
from camera import Camera, Xvfb  # noqa: E402
from rtsp_client import RtspClient  # noqa: E402
from viewers import count_access_units, cpu_seconds  # noqa: E402

FPS = 10
PER_ADDRESS = 25


def client_process(port, count, warmup, seconds, first):
    """Plays `count` streams; prints the frames each received during the
    measured window as one JSON line."""
    sel = selectors.DefaultSelector()
    conns = []
    for i in range(first, first + count):
        c = RtspClient(port, timeout=30, source=f"127.0.1.{i // PER_ADDRESS + 1}")
        c.play("/screenlive")
        c.sock.setblocking(False)
        state = {"buf": bytearray(c.buf), "frames": 0, "client": c}
        conns.append(state)
        sel.register(c.sock, selectors.EVENT_READ, state)
    start = time.time()
    marks = None
    while True:
        now = time.time()
        if marks is None and now - start >= warmup:
            marks = [s["frames"] for s in conns]
        if now - start >= warmup + seconds:
            break
        for key, _ in sel.select(timeout=0.5):
            s = key.data
            try:
                chunk = key.fileobj.recv(1 << 20)
            except BlockingIOError:
                continue
            if not chunk:
                sel.unregister(key.fileobj)
                continue
            buf = s["buf"]
            buf += chunk
            units, used = count_access_units(buf)
            s["frames"] += units
            del buf[:used]
    print(json.dumps([s["frames"] - m for s, m in zip(conns, marks)]), flush=True)


def main():
    import argparse
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--viewers", type=int, default=200)
    ap.add_argument("--processes", type=int, default=4)
    ap.add_argument("--seconds", type=float, default=300)
    ap.add_argument("--client", nargs=5, type=float, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.client:
        port, count, warmup, seconds, first = args.client
        client_process(int(port), int(count), warmup, seconds, int(first))
        return
    with Xvfb(1920, 1080) as x:
        subprocess.run(["xsetroot", "-solid", "#5080a0"], env=x.env())
        win = subprocess.Popen(["ffmpeg", "-v", "error", "-re", "-f", "lavfi", "-i", "testsrc=size=400x300:rate=10",
                                "-f", "sdl2", "-window_x", "300", "-window_y", "200", "-window_borderless", "1", "w"],
                               env=dict(x.env(), SDL_VIDEODRIVER="x11"), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(3)
            settings = {"web_admin": 0, "substream": 1, "fps": FPS, "log_verbose": 1}
            with Camera(args.bin, settings, display=x.display) as cam:
                port = cam.port("rtsp")
                one = RtspClient(port)
                one.play("/screenlive")
                # A single viewer first: the baseline.
                one.sock.settimeout(5)
                time.sleep(3)
                c0 = cpu_seconds(cam.proc.pid)
                t_end = time.time() + 30
                while time.time() < t_end:
                    one.sock.recv(1 << 20)
                single = (cpu_seconds(cam.proc.pid) - c0) / 30
                one.close()
                print(f"one viewer: {single * 1000 / FPS:.2f} ms CPU per frame", flush=True)

                warmup = 10.0
                per = [args.viewers // args.processes + (i < args.viewers % args.processes)
                       for i in range(args.processes)]
                clients = [subprocess.Popen([sys.executable, __file__, "--bin", args.bin, "--client", str(port),
                                             str(n), str(warmup), str(args.seconds), str(sum(per[:i]))],
                                            stdout=subprocess.PIPE, text=True) for i, n in enumerate(per)]
                time.sleep(warmup + 2)  # everyone connected and playing
                c0, t0 = cpu_seconds(cam.proc.pid), time.time()
                first = re.findall(r"RTSP: (\d+) frames encoded", cam.output)
                time.sleep(args.seconds - 4)
                c1, t1 = cpu_seconds(cam.proc.pid), time.time()
                last = re.findall(r"RTSP: (\d+) frames encoded", cam.output)
                counts = []
                for p in clients:
                    out, _ = p.communicate(timeout=args.seconds + 120)
                    counts += json.loads(out.strip().splitlines()[-1])
        finally:
            win.terminate()
            win.wait(10)
    expected = args.seconds * FPS
    total = (c1 - c0) / (t1 - t0)
    delivery = total - single
    print(f"{len(counts)} viewers, {args.seconds:.0f} s: frames received min {min(counts)} "
          f"({min(counts) / expected:.1%}), median {sorted(counts)[len(counts) // 2]}, expected {expected:.0f}; "
          f"viewers under 98%: {sum(c < 0.98 * expected for c in counts)}")
    if first and last:
        # frames_encoded counts main and sub pictures; the statistics line comes every 10 s.
        span = (len(last) - len(first)) * 10
        if span > 0:
            print(f"encoded pictures per second (main + sub): {(int(last[-1]) - int(first[-1])) / span:.2f}"
                  f" (expected {2 * FPS})")
    print(f"camera CPU: {total * 100:.1f}% of a core in total, {single * 100:.1f}% with one viewer; delivery "
          f"{delivery * 100:.1f}% in total, {delivery / len(counts) * 1000 * 1000 / FPS:.1f} us per viewer per "
          f"frame ({delivery / len(counts) * 100:.3f}% of a core per viewer)")
    with open("/proc/loadavg") as f:
        print(f"load average at end: {f.read().split()[:3]}")


if __name__ == "__main__":
    main()
