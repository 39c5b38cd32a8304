"""Real clients play the main and sub streams over TCP: ffprobe sizes, frame
rate and RTP timestamps, sender reports, raw request handling on the wire."""

import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402
from rtsp_client import RtspClient, parse_sender_report  # noqa: E402

args = parse_args()


def ffprobe_size(url):
    out = subprocess.run(["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-select_streams", "v:0",
                          "-show_entries", "stream=width,height,codec_name", "-of", "json", url],
                         capture_output=True, text=True, timeout=60)
    s = json.loads(out.stdout)["streams"][0]
    return s["codec_name"], s["width"], s["height"]


def check_rate_and_timestamps(port):
    """10 s at 10 fps: at least 95 frames, +9000 per frame, SRs on channel 1."""
    c = RtspClient(port)
    reports = []
    c.play("/screenlive")
    frames = c.read_frames(seconds=10.5, on_rtcp=lambda ch, p: reports.append((ch, p, time.time())))
    c.close()
    check(len(frames) >= 95, f"only {len(frames)} frames in 10 s")
    check(5 in frames[0][1] and 7 in frames[0][1] and 8 in frames[0][1], f"first frame not SPS+PPS+IDR: {frames[0][1]}")
    steps = {frames[i + 1][0] - frames[i][0] for i in range(len(frames) - 1)}
    check(steps == {9000}, f"timestamp steps {steps}")
    seqs = c.seqs
    check(all((seqs[i + 1] - seqs[i]) % 65536 == 1 for i in range(len(seqs) - 1)), "RTP sequence gaps")
    srs = [parse_sender_report(p) for ch, p, _ in reports if ch == 1]
    check(len(srs) >= 2, f"{len(srs)} sender reports in 10 s")
    ssrc, ntp, rtp, packets, octets = srs[-1]
    check(ssrc == 0x13572468 and packets > 0 and octets > 0, f"sender report {srs[-1]}")
    # The report maps RTP time to wall-clock time within a second of now.
    check(abs(ntp - time.time()) < 3, f"SR wall-clock {ntp} vs {time.time()}")


def raw_requests(port):
    c = RtspClient(port)
    c.send_raw("OPTIONS rtsp://x/ RTSP/1.0\r\n\r\n")
    st, h, _ = c.read_reply()
    check(st == 200 and h["cseq"] == ["0"], "no CSeq answered with 0")
    st, h, _ = c.request("SETUP", "/screenlive/trackID=0", {"Transport": "RTP/AVP;unicast;client_port=5000-5001"})
    check(st == 461, f"UDP SETUP got {st}")
    st, h, _ = c.request("SETUP", "/screenlive/trackID=0", {"Transport": "RTP/AVP/TCP;unicast;interleaved=4-5"})
    check(st == 200 and "interleaved=0-1" in h["transport"][0], f"TCP SETUP {h}")
    st, h, _ = c.request("GET_PARAMETER", "/screenlive")
    check(st == 200 and "session" not in h, "GET_PARAMETER without Session")
    st, h, _ = c.request("GET_PARAMETER", "/screenlive", {"Session": "12345678"})
    check(h["session"] == ["12345678;timeout=60"], "GET_PARAMETER with Session")
    # PLAY after a refused UDP SETUP still streams on this connection.
    st, _, _ = c.request("PLAY", "/screenlive", {"Session": "12345678"})
    check(st == 200, "PLAY")
    c.read_frames(count=2)
    # Keep-alive while playing, with an RTCP receiver report in front of it.
    rr = b"$\x01\x00\x08" + bytes([0x80, 201, 0, 1, 1, 2, 3, 4])
    c.send_raw(rr + b"GET_PARAMETER rtsp://x/ RTSP/1.0\r\nCSeq: 41\r\n\r\n")
    deadline = time.time() + 5
    got = False
    while time.time() < deadline and not got:
        c._fill()
        i = c.buf.find(b"RTSP/1.0 200 OK\r\nCSeq: 41\r\nSession: 12345678;timeout=60\r\n\r\n")
        got = i >= 0
    check(got, "keep-alive during play not answered")
    # TEARDOWN while playing: answered, then the connection closes.
    c.buf = b""
    c.send_raw("TEARDOWN rtsp://x/ RTSP/1.0\r\nCSeq: 42\r\n\r\n")
    c.sock.settimeout(5)
    data = b""
    try:
        while True:
            chunk = c.sock.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        check(False, "connection not closed after TEARDOWN")
    check(b"RTSP/1.0 200 OK\r\nCSeq: 42\r\nSession: 12345678\r\n\r\n" in data, "TEARDOWN during play not answered")
    c.close()

    # TEARDOWN before PLAY: answered, then closed.
    c = RtspClient(port)
    st, h, _ = c.request("TEARDOWN", "/screenlive")
    check(st == 200 and h["session"] == ["12345678"], "TEARDOWN before PLAY")
    check(c.sock.recv(10) == b"", "connection open after TEARDOWN")
    c.close()

    # Sub stream selected by DESCRIBE, then PLAY on a main-looking URL: sub frames.
    c = RtspClient(port)
    sdp = c.request("DESCRIBE", "/Streaming/Channels/102?subtype=1")[2]
    check("m=video" in sdp and "m=audio" not in sdp, sdp)
    c.request("PLAY", "/screenlive")
    f = c.read_frames(count=1)[0]
    c.close()
    return f


def main():
    with Xvfb(1280, 720) as x:
        cam = Camera(args.bin, {"sub_width": 640, "log_verbose": 1}, display=x.display)
        with cam:
            cam.wait_for("RTSP server ready", 60)
            port = cam.port("rtsp")
            base = f"rtsp://127.0.0.1:{port}"
            check(ffprobe_size(base + "/screenlive") == ("h264", 1280, 720), "main size")
            check(ffprobe_size(base + "/screensub") == ("h264", 640, 360), "sub size")
            check(ffprobe_size(base + "/stream2") == ("h264", 640, 360), "sub by path")
            check_rate_and_timestamps(port)
            raw_requests(port)
            # A decoding client: ffmpeg decodes 10 s of the sub stream.
            out = subprocess.run(["ffmpeg", "-hide_banner", "-rtsp_transport", "tcp", "-i", base + "/screensub",
                                  "-t", "10", "-f", "null", "-"], capture_output=True, text=True, timeout=60)
            frames = [int(m) for m in re.findall(r"frame=\s*(\d+)", out.stderr)]
            check(frames and frames[-1] >= 95, f"ffmpeg decoded {frames[-1:]} frames of the sub stream")
            time.sleep(1)
            check(cam.proc.poll() is None, "camera died")


run_main(main)
