"""The RTSP port under abuse, one camera start with stream authentication on:
- a viewer that stops reading (screen full of noise, so its buffers fill fast)
  is dropped once it has taken no data for the 60 s send time-out;
- while 127.0.0.2 holds hundreds of connections trickling a byte at a time
  (reconnecting when dropped), 127.0.0.1's requests are answered within 1 s;
- password guessing on one connection is slowed to about one a second and
  cut off after three, while a client's first request still gets its
  challenge at once.
Prints the figures; the stalled viewer runs alongside the other two parts."""

import base64
import os
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402
from rtsp_client import RtspClient  # noqa: E402

args = parse_args()
BASIC = "Basic " + base64.b64encode(b"admin:s3cret").decode()
FLOODER = "127.0.0.2"


def established(port, client_port):
    """Whether the camera's end of the connection to client_port is still open."""
    out = subprocess.run(["ss", "-Htn", "state", "established", f"( sport = :{port} and dport = :{client_port} )"],
                         capture_output=True, text=True).stdout
    return bool(out.strip())


def stalled_viewer(port, result):
    """PLAY with a tiny receive buffer, then never read again; time until the
    camera closes its end."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    c = RtspClient.__new__(RtspClient)
    c.sock, c.auth, c.buf, c.cseq, c.url = s, {"Authorization": BASIC}, b"", 0, f"rtsp://127.0.0.1:{port}"
    s.settimeout(10)
    c.play()
    c.read_frames(count=3)
    stopped = time.time()
    client_port = s.getsockname()[1]
    while established(port, client_port) and time.time() < stopped + 200:
        time.sleep(0.5)
    result["drop"] = time.time() - stopped
    s.close()


def flood(port, stop, counts):
    """Up to 500 connections from the flooder's address, each sending one
    byte of a request a second; dropped ones are replaced at once."""
    conns = []
    tick = 0
    while not stop.is_set():
        while len(conns) < 500:
            s = socket.socket()
            s.setblocking(False)
            s.bind((FLOODER, 0))
            s.connect_ex(("127.0.0.1", port))
            conns.append(s)
            counts["opened"] += 1
        time.sleep(0.1)
        tick += 1
        for s in list(conns):
            try:
                if tick % 10 == 0:
                    s.send(b"O")
                elif s.recv(4096, socket.MSG_DONTWAIT) == b"":
                    raise OSError("closed")
            except BlockingIOError:
                pass
            except OSError:
                conns.remove(s)
                s.close()
    for s in conns:
        s.close()


def normal_requests(port, n=10):
    """Latency of the requests of n normal sessions, each on a new connection
    that pauses a second between OPTIONS and DESCRIBE as recorders do;
    a connection lost on the way counts as 99 s."""
    times = []
    for _ in range(n):
        try:
            c = RtspClient(port, timeout=5, auth=BASIC)
            for method in ("OPTIONS", "DESCRIBE"):
                t = time.time()
                st = c.request(method)[0]
                times.append(time.time() - t if st == 200 else 99)
                time.sleep(1)
            c.close()
        except (OSError, EOFError):
            times.append(99)
    return times


def guessing(port):
    """Wrong passwords on one connection until it closes: (guesses answered,
    guesses per second); and the delay of a bare request's challenge."""
    c = RtspClient(port)
    t = time.time()
    check(c.request("DESCRIBE")[0] == 401, "no challenge")
    challenge = time.time() - t
    wrong = {"Authorization": "Basic " + base64.b64encode(b"admin:guess").decode()}
    guesses, t = 0, time.time()
    try:
        while guesses < 300:
            st = c.request("DESCRIBE", headers=wrong)[0]
            check(st == 401, f"wrong password got {st}")
            guesses += 1
    except (EOFError, OSError):
        pass
    rate = guesses / max(time.time() - t, 1e-6)
    c.close()
    return guesses, rate, challenge


def main():
    settings = {"stream_auth": 1, "admin_pass": "s3cret", "substream": 0, "bitrate": 4000}
    with Xvfb(640, 480) as x, Camera(args.bin, settings, display=x.display) as cam:
        cam.wait_for("RTSP server ready", 60)
        port = cam.port("rtsp")
        noise = subprocess.Popen(["ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                                  "color=c=gray:s=640x480:r=10,noise=alls=100:allf=t", "-pix_fmt", "yuv420p",
                                  "-f", "sdl2", "noise"], env=dict(os.environ, DISPLAY=x.display,
                                                                   SDL_VIDEODRIVER="x11"),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            stall = {}
            stall_thread = threading.Thread(target=stalled_viewer, args=(port, stall))
            stall_thread.start()
            stop, counts = threading.Event(), {"opened": 0}
            flooder = threading.Thread(target=flood, args=(port, stop, counts))
            flooder.start()
            time.sleep(3)  # let the flood build up before measuring
            times = normal_requests(port)
            stop.set()
            flooder.join()
            print(f"FIGURE flood: {counts['opened']} flood connections; normal OPTIONS max {max(times):.3f} s, "
                  f"answered within 1 s: {sum(t < 1 for t in times)}/{len(times)} requests")
            guesses, rate, challenge = guessing(port)
            print(f"FIGURE guessing: {guesses} wrong passwords on one connection at {rate:.1f}/s; "
                  f"bare challenge in {challenge:.3f} s")
            stall_thread.join(200)
            print(f"FIGURE stalled viewer dropped after {stall.get('drop', -1):.1f} s")
        finally:
            noise.kill()
            noise.wait()
        check(all(t < 1 for t in times), f"normal requests during the flood took {times}")
        check(guesses <= 3 and rate < 3 and challenge < 0.5, f"{guesses} guesses at {rate}/s")
        check(55 <= stall.get("drop", 999) <= 90, f"stalled viewer dropped after {stall.get('drop')} s")
        cam.wait_for("took no data for 60 s, dropped", 5)
        check(cam.proc.poll() is None, "camera died")


run_main(main)
