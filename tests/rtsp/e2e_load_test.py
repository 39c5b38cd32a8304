"""Load and abuse on one camera: a viewer that stops reading resumes at a
keyframe with the camera's memory bounded; 20 copying ffmpeg viewers for 30 s
with one encode per frame; random, truncated and oversized requests and an
idle-connection flood leave a camera that still plays."""

import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402
from rtsp_client import RtspClient  # noqa: E402

args = parse_args()


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def stalled_viewer(port, pid):
    c = RtspClient(port)
    c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
    c.play()
    c.read_frames(seconds=2)
    rss_before = rss_kb(pid)
    time.sleep(10)  # stop reading; the camera's send blocks
    growth = (rss_kb(pid) - rss_before) / 1024
    frames = c.read_frames(seconds=4)
    c.close()
    # Timestamps follow the capture clock: a missed frame slot under load is a
    # double step, the frames skipped after the stall are seconds.
    jumps = [i for i in range(1, len(frames)) if frames[i][0] - frames[i - 1][0] > 90000]
    check(jumps, "no frames were skipped after a 10 s stall")
    check(5 in frames[jumps[0]][1], f"after the stall the viewer resumed at a non-keyframe {frames[jumps[0]][1]}")
    check(frames[-1][3] - frames[jumps[0]][3] > 1.0, "stream did not go on after resuming")
    check(growth < 64, f"memory grew {growth:.1f} MB while a viewer stalled")


def twenty_viewers(cam, port):
    procs = [subprocess.Popen(
        ["ffmpeg", "-hide_banner", "-nostats", "-loglevel", "error", "-rtsp_transport", "tcp",
         "-i", f"rtsp://127.0.0.1:{port}/screen{('live', 'sub')[i % 2]}", "-t", "30", "-c", "copy",
         "-f", "null", "-", "-progress", "pipe:1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for i in range(20)]
    start = len(cam.output)
    for i, p in enumerate(procs):
        out, err = p.communicate(timeout=90)
        frames = [int(m) for m in re.findall(r"frame=(\d+)", out)]
        check(frames and frames[-1] >= 285, f"viewer {i} got {frames[-1:]} frames of 300: {err[-300:]}")
    # One encode per stream per frame whatever the number of viewers: the
    # counter (main + sub), logged every 10 s, grows by about 2 x 10 per second.
    counts = [int(n) for n in re.findall(r"RTSP: (\d+) frames encoded", cam.output[start:])]
    check(len(counts) >= 2, "no encoder counter lines")
    rate = (counts[-1] - counts[0]) / (10.0 * (len(counts) - 1))
    check(15 <= rate <= 22, f"encoder ran {rate:.1f} times per second for 2 streams at 10 fps")


def bad_input(port, count=10000):
    """Random bytes, truncated and oversized requests, bogus '$' frames and
    valid requests, up to 60 on a connection, sometimes reading the answers."""
    rng = random.Random(4)
    valid = [b"OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n",
             b"DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nCSeq: 2\r\nAuthorization: Digest username=\"a\", nonce=\r\n\r\n",
             b"SETUP rtsp://h/screenlive/trackID=1 RTSP/1.0\r\nCSeq: 3\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n\r\n",
             b"GET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 99999999999999999999999\r\nSession: 1\r\n\r\n",
             b"TEARDOWN rtsp://h/ RTSP/1.0\r\nCSeq: -5\r\n\r\n"]
    kinds = [lambda v: rng.randbytes(rng.randint(1, 300)), lambda v: v[:rng.randint(1, len(v))],
             lambda v: b"DESCRIBE rtsp://h/" + b"A" * rng.randint(8000, 70000) + b" RTSP/1.0\r\n\r\n",
             lambda v: b"$\x00\xff\xff" + rng.randbytes(50), lambda v: v]
    sent = 0
    while sent < count:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                for _ in range(rng.randint(1, 60)):
                    data = rng.choice(kinds)(rng.choice(valid))
                    s.sendall(data)
                    sent += 1
                    if rng.random() < 0.3:
                        s.settimeout(0.05)
                        try:
                            s.recv(65536)
                        except OSError:
                            pass
                    if b"TEARDOWN" in data:
                        break
        except OSError:
            pass


def main():
    with Xvfb(640, 480) as x:
        noise = tempfile.mkdtemp(prefix="zeb-noise-")
        for name in "ab":
            subprocess.run(["convert", "-size", "640x480", "xc:", "+noise", "Random", f"{noise}/{name}.png"],
                           check=True)
        painter = subprocess.Popen(["sh", "-c", f"while :; do for f in {noise}/a.png {noise}/b.png; do "
                                    "display -window root $f; sleep 0.1; done; done"], env=x.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            settings = {"sub_width": 320, "bitrate": 8000, "osd_name": 0, "osd_clock": 0, "log_verbose": 1}
            # The memory check is about the camera's own buffers: under the
            # address sanitizer, its quarantine of freed blocks is kept small
            # so that it does not count as growth.
            asan = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=16"}
            with Camera(args.bin, settings, display=x.display, env=asan) as cam:
                cam.wait_for("RTSP server ready", 60)
                port = cam.port("rtsp")
                stalled_viewer(port, cam.proc.pid)
                painter.terminate()
                twenty_viewers(cam, port)
                bad_input(port)
                check(cam.proc.poll() is None, "camera died on bad input")
                flood = []
                for _ in range(300):
                    try:
                        flood.append(socket.create_connection(("127.0.0.1", port), timeout=5,
                                                              source_address=("127.0.0.2", 0)))
                    except OSError:
                        pass
                # While another address floods with idle connections, a normal viewer still plays.
                c = RtspClient(port)
                c.play()
                check(len(c.read_frames(count=10)) == 10, "viewer did not play during the idle flood")
                c.close()
                for s in flood:
                    s.close()
                out = subprocess.run(["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-show_entries",
                                      "stream=width", "-of", "csv=p=0", f"rtsp://127.0.0.1:{port}/screenlive"],
                                     capture_output=True, text=True, timeout=60)
                check(out.stdout.strip() == "640", f"ffprobe after the flood: {out.stdout!r} {out.stderr[-300:]}")
                check(cam.proc.poll() is None, "camera died")
        finally:
            painter.terminate()
            painter.wait()

run_main(main)
