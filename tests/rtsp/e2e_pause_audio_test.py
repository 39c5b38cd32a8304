"""Paused streaming (the still picture every 500 ms, 45000 apart, starting
with an IDR frame; resuming forces an IDR frame) and the PC's sound as PCMU:
a 1 kHz tone played into a PulseAudio null sink comes out of ffmpeg as 1 kHz."""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402
from rtsp_client import RtspClient  # noqa: E402

args = parse_args()


def paused(cam, port):
    c = RtspClient(port)
    c.play("/screenlive")
    frames = c.read_frames(count=6)
    check(5 in frames[0][1], f"first paused picture is not an IDR frame: {frames[0][1]}")
    steps = {frames[i + 1][0] - frames[i][0] for i in range(len(frames) - 1)}
    check(steps == {45000}, f"paused timestamps step {steps}")
    gaps = sorted(frames[i + 1][3] - frames[i][3] for i in range(1, len(frames) - 1))
    check(0.35 <= gaps[len(gaps) // 2] <= 0.7, f"paused pictures every {gaps} s")
    if "live-settings watcher not in this build" in cam.output:
        print("resume: no live-settings watcher in this build, resume not driven")
        c.close()
        return
    with open(cam.cfg_path) as f:
        text = f.read()
    with open(cam.cfg_path, "w") as f:
        f.write(text.replace("stream_on = 0", "stream_on = 1"))
    # The first live frame is the one followed by a 9000 step (a live step).
    deadline = time.time() + 15
    resumed = None
    while time.time() < deadline and resumed is None:
        frames += c.read_frames(count=1)
        if len(frames) >= 2 and frames[-1][0] - frames[-2][0] == 9000:
            resumed = frames[-2][1]
    check(resumed is not None and 5 in resumed, f"resuming gave {resumed}")
    c.close()


def tone_frequency(samples, rate=8000):
    """Frequency of the strongest DFT bin between 200 and 3800 Hz (10 Hz steps, then 1 Hz)."""
    def power(f):
        w = 2 * math.pi * f / rate
        coeff = 2 * math.cos(w)
        s1 = s2 = 0.0
        for x in samples:
            s1, s2 = x + coeff * s1 - s2, s1
        return s1 * s1 + s2 * s2 - coeff * s1 * s2
    coarse = max(range(200, 3800, 10), key=power)
    return max(range(coarse - 10, coarse + 11), key=power)


def audio_tone(bin_path):
    runtime = tempfile.mkdtemp(prefix="zeb-pulse-")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    env.pop("PULSE_SERVER", None)
    subprocess.run(["pulseaudio", "-D", "-n", "--exit-idle-time=-1", "--disallow-exit",
                    "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=vs"],
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    player = None
    try:
        subprocess.run(["pactl", "set-default-sink", "vs"], env=env, check=True)
        sox = subprocess.Popen(["sox", "-n", "-r", "48000", "-c", "2", "-t", "raw", "-e", "signed", "-b", "16", "-",
                                "synth", "30", "sine", "1000"], stdout=subprocess.PIPE, env=env)
        player = subprocess.Popen(["pacat", "--raw", "--rate=48000", "--channels=2", "--format=s16le", "-d", "vs"],
                                  stdin=sox.stdout, env=env)
        sox.stdout.close()
        with Xvfb(640, 480) as x:
            cam_env = {"XDG_RUNTIME_DIR": runtime}
            with Camera(bin_path, {"audio": 1, "substream": 0}, display=x.display, env=cam_env) as cam:
                cam.wait_for("RTSP server ready", 60)
                out = os.path.join(runtime, "a.raw")
                r = subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-rtsp_transport", "tcp", "-i",
                                    f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive", "-vn", "-t", "5",
                                    "-f", "s16le", "-ac", "1", "-ar", "8000", out], capture_output=True, text=True,
                                   timeout=60)
                check(r.returncode == 0, f"ffmpeg audio: {r.stderr[-500:]}")
                check("Audio: on" in cam.output, "capture did not start")
                with open(out, "rb") as f:
                    data = f.read()
                n = len(data) // 2
                samples = struct.unpack(f"<{n}h", data[:2 * n])
                check(n >= 8000 * 4, f"only {n} audio samples")
                tail = samples[-8000:]
                check(max(abs(s) for s in tail) > 3000, "decoded audio is silent")
                f = tone_frequency(tail)
                check(abs(f - 1000) <= 20, f"tone decoded at {f} Hz")
                print(f"audio: tone decoded at {f} Hz")
    finally:
        if player:
            player.kill()
            player.wait()
        subprocess.run(["pulseaudio", "--kill"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(runtime, ignore_errors=True)


def main():
    with Xvfb(640, 480) as x:
        with Camera(args.bin, {"stream_on": 0, "substream": 0}, display=x.display) as cam:
            cam.wait_for("RTSP server ready", 60)
            paused(cam, cam.port("rtsp"))
    audio_tone(args.bin)


run_main(main)
