"""Recording after a reconnect, audio on (a sound server of the test's own
playing a tone, so the capture stops and starts with the viewers): a first viewer plays a few seconds, the camera idles, then ffmpeg
records 20 s to MKV without DTS complaints and with audio and video in step,
and mpv plays without timestamp warnings. On the wire: random initial sequence
numbers and timestamps announced in RTP-Info, a=framerate in the SDP, the
frame rate in the SPS as GStreamer's discoverer reads it, sender
reports that put the RTP time of the frames at their wall-clock time."""

import json
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402
from rtsp_client import RtspClient, parse_sender_report  # noqa: E402
import sound_server  # noqa: E402

args = parse_args()
IDLE_GAP = 12


def ffmpeg(*argv, timeout=90):
    return subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", *argv], capture_output=True, text=True,
                          timeout=timeout)


def stream_times(path):
    """Per codec type: (first pts, last pts + duration) in seconds."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "packet=stream_index,pts_time,duration_time:stream=index,codec_type", "-of", "json", path],
                         capture_output=True, text=True, timeout=60)
    data = json.loads(out.stdout)
    kinds = {s["index"]: s["codec_type"] for s in data["streams"]}
    spans = {}
    for p in data["packets"]:
        if p.get("pts_time") is None:
            continue
        t = float(p["pts_time"])
        end = t + float(p.get("duration_time") or 0)
        k = kinds[p["stream_index"]]
        first, last = spans.get(k, (t, end))
        spans[k] = (min(first, t), max(last, end))
    return spans


def first_frame_artefact(line):
    """libavformat's H.264 parser gives the first access unit of any RTP
    source no timestamp (seen with ffmpeg's own RTP sender too); mpv then makes
    one up and finds the second frame at the same time (to within the
    rounding of its clock mapping, a few microseconds)."""
    m = re.search(r"Invalid video timestamp: ([\d.]+) -> ([\d.]+)", line)
    return "No video PTS! Making something up" in line or (
        m and abs(float(m.group(1)) - float(m.group(2))) < 0.001)


def rtp_info(port):
    """One raw PLAY: its RTP-Info against the first packets, and the sender
    reports against the frames' arrival."""
    c = RtspClient(port)
    sdp = c.request("DESCRIBE")[2]
    check("a=framerate:10\r\n" in sdp, f"no a=framerate in the SDP:\n{sdp}")
    c.request("SETUP", "/screenlive/trackID=0", {"Transport": "RTP/AVP/TCP;unicast;interleaved=0-1"})
    c.request("SETUP", "/screenlive/trackID=1", {"Transport": "RTP/AVP/TCP;unicast;interleaved=2-3"})
    st, h, _ = c.request("PLAY", "/screenlive", {"Session": "12345678"})
    info = h.get("rtp-info", [""])[0]
    m = re.fullmatch(r"url=(\S+?)/trackID=0;seq=(\d+);rtptime=(\d+),url=\S+/trackID=1;seq=(\d+);rtptime=(\d+)",
                     info)
    check(st == 200 and m and m.group(1) == c.url + "/screenlive", f"PLAY RTP-Info: {info!r}")
    vseq, vts, aseq, ats = (int(m.group(i)) for i in range(2, 6))
    first = {}
    reports = []
    frames = []
    deadline = time.time() + 8
    while time.time() < deadline and (len(first) < 2 or len(reports) < 2 or len(frames) < 20):
        ch, p = c.read_packet()
        now = time.time()
        if ch in (0, 2):
            first.setdefault(ch, (int.from_bytes(p[2:4], "big"), int.from_bytes(p[4:8], "big")))
            if ch == 0 and p[1] & 0x80:
                frames.append((int.from_bytes(p[4:8], "big"), now))
        elif ch == 1:
            reports.append(parse_sender_report(p))
    c.close()
    check(first.get(0) == (vseq, vts) and first.get(2) == (aseq, ats),
          f"first packets {first} vs RTP-Info {info}")
    check(reports, "no video sender report")
    _, ntp, rtp, _, _ = reports[-1]
    # Each frame's RTP time, read through the report, lands at (or just
    # before) its arrival: capture and encoding take a little time.
    lags = [arrival - (ntp + ((ts - rtp + 2**31) % 2**32 - 2**31) / 90000) for ts, arrival in frames]
    check(all(-0.1 < lag < 1.5 for lag in lags), f"frames against the sender report: {lags}")
    return (vseq, vts, aseq, ats)


def main():
    pulse_env, pulse = sound_server.start_tone(tempfile.mkdtemp(prefix="zeb-pulse-"), 44100, 300)
    try:
        record(pulse_env)
    finally:
        sound_server.stop(pulse)


def record(pulse_env):
    out_dir = tempfile.mkdtemp(prefix="zeb-rec-")
    settings = {"main_width": 960, "substream": 0, "audio": 1}
    with Xvfb(1280, 720) as x, Camera(args.bin, settings, display=x.display, env=pulse_env) as cam:
        cam.wait_for("RTSP server ready", 60)
        url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive"
        starts = {rtp_info(cam.port("rtsp")) for _ in range(2)}
        check(len(starts) == 2 and all(v not in (0,) for s in starts for v in s),
              f"initial sequence numbers and timestamps repeat: {starts}")
        # The SPS carries the frame rate (GStreamer reads 0/1 from an SPS without it).
        r = subprocess.run(["gst-discoverer-1.0", "-t", "40", url], capture_output=True, text=True, timeout=60)
        check("Frame rate: 10/1" in r.stdout, f"gst-discoverer: {r.stdout[-800:]}{r.stderr[-400:]}")
        cam.wait_for("Audio: on", 30)
        r = ffmpeg("-rtsp_transport", "tcp", "-i", url, "-t", "3", "-f", "null", "-")
        check(r.returncode == 0, f"first viewer failed: {r.stderr[-800:]}")
        time.sleep(IDLE_GAP)  # the idle spell under test, not a wait for an event
        mkv = os.path.join(out_dir, "out.mkv")
        r = ffmpeg("-rtsp_transport", "tcp", "-i", url, "-map", "0", "-c", "copy", "-t", "20", mkv)
        complaints = [line for line in r.stderr.splitlines() if re.search(r"monoton|Invalid|jump", line, re.I)]
        check(r.returncode == 0 and not complaints, f"recording: {complaints[:5]}\n{r.stderr[-600:]}")
        spans = stream_times(mkv)
        print("recorded spans (s):", spans)
        (v0, v1), (a0, a1) = spans["video"], spans["audio"]
        check(v1 - v0 >= 19.5, f"only {v1 - v0:.2f} s of video recorded")
        check(abs(v0 - a0) <= 0.1 and abs(v1 - a1) <= 0.1,
              f"audio {a0:.3f}-{a1:.3f} s against video {v0:.3f}-{v1:.3f} s")
        r = subprocess.run(["mpv", "--no-config", "--vo=null", "--ao=null", "--frames=100",
                            "--rtsp-transport=tcp", url], capture_output=True, text=True, timeout=90)
        warnings = [line for line in (r.stdout + r.stderr).splitlines()
                    if re.search(r"Invalid|timestamp|PTS|DTS", line) and not first_frame_artefact(line)]
        check(r.returncode == 0 and not warnings, f"mpv: {warnings[:5]}\n{(r.stdout + r.stderr)[-600:]}")
        check(cam.proc.poll() is None, "camera died")


run_main(main)
