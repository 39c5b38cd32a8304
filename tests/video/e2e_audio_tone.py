"""The PC's sound through RTSP: a PulseAudio server of the test's own (never a
user session) plays a 1 kHz tone into a null sink; with audio = 1 the SDP
announces PCMU and ffmpeg decodes the audio track to that tone. Then the sound
server goes away mid-stream: the camera says so and both tracks keep flowing
(the audio as silence)."""

import math
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402

args = parse_args()


class PulseServer:
    """pulseaudio with its own runtime and home directory and a 48 kHz float
    null sink as the default sink; killed by pid on exit."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="zeb-pulse-")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.dir, HOME=self.dir,
                        PULSE_SERVER="unix:" + os.path.join(self.dir, "pulse", "native"))
        self.env.pop("DISPLAY", None)
        self.proc = None
        self.players = []

    def __enter__(self):
        self.log = open(os.path.join(self.dir, "server.log"), "w")
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "--load=module-native-protocol-unix"],
            env=self.env, stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.time() + 20
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode != 0:
            check(time.time() < deadline and self.proc.poll() is None, "pulseaudio did not start")
            time.sleep(0.1)
        self.pactl("load-module", "module-null-sink", "sink_name=vs", "rate=48000", "format=float32le",
                   "channels=2")
        self.pactl("set-default-sink", "vs")
        return self

    def pactl(self, *a):
        r = subprocess.run(["pactl"] + list(a), env=self.env, capture_output=True, text=True)
        check(r.returncode == 0, f"pactl {' '.join(a)}: {r.stderr}")

    def play_tone(self, seconds, hz=1000):
        p = subprocess.Popen(
            ["sh", "-c", f"sox -n -r 48000 -c 2 -t raw -e signed -b 16 - synth {seconds} sine {hz} vol 0.5"
                         " | pacat --raw --rate=48000 --channels=2 --format=s16le -d vs"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.players.append(p)

    def kill(self):
        for p in self.players + [self.proc]:
            if p and p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)  # its own session: the group is ours
                p.wait()

    def __exit__(self, *exc):
        self.kill()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def record_audio(url, seconds, out):
    """Audio track of url decoded by ffmpeg to 8 kHz mono s16; returns
    (samples, ffmpeg's log)."""
    r = subprocess.run(["ffmpeg", "-hide_banner", "-y", "-rtsp_transport", "tcp", "-i", url, "-map", "0:a",
                        "-t", str(seconds), "-f", "s16le", "-ar", "8000", "-ac", "1", out],
                       capture_output=True, text=True, timeout=seconds + 60)
    check(r.returncode == 0, f"ffmpeg failed: {r.stderr[-800:]}")
    with open(out, "rb") as f:
        data = f.read()
    return list(struct.unpack(f"<{len(data) // 2}h", data)), r.stderr


def spectrum_peak(x, rate=8000.0):
    """Strongest frequency of x (200 ms window, 5 Hz bins, parabolic refinement)
    and the share of the window's energy that lies within 20 Hz of it."""
    n = int(rate / 5)
    x = x[:n]
    mags = []
    for k in range(n // 2):
        w = 2 * math.pi * k / n
        re_ = sum(v * math.cos(w * i) for i, v in enumerate(x))
        im_ = sum(v * math.sin(w * i) for i, v in enumerate(x))
        mags.append(re_ * re_ + im_ * im_)
    k = max(range(1, len(mags) - 1), key=lambda i: mags[i])
    a, b, c = (math.sqrt(mags[k - 1]), math.sqrt(mags[k]), math.sqrt(mags[k + 1]))
    shift = 0.5 * (a - c) / (a - 2 * b + c) if (a - 2 * b + c) != 0 else 0.0
    share = sum(mags[k - 4:k + 5]) / max(sum(mags[1:]), 1e-9)
    return (k + shift) * rate / n, share


def main():
    work = tempfile.mkdtemp(prefix="zeb-audio-")
    with Xvfb(640, 480) as x, PulseServer() as pulse:
        pulse.play_tone(40)
        env = {k: pulse.env[k] for k in ("XDG_RUNTIME_DIR", "PULSE_SERVER")}
        env["HOME"] = pulse.dir
        with Camera(args.bin, {"audio": 1, "log_verbose": 1, "fps": 10}, display=x.display, env=env) as cam:
            cam.wait_for("RTSP server ready", 60)
            url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive"

            samples, log = record_audio(url, 8, os.path.join(work, "tone.raw"))
            check(re.search(r"Audio: pcm_mulaw, 8000 Hz, mono", log), f"no PCMU track in the SDP:\n{log[-800:]}")
            cam.wait_for("Audio: on", 10)
            cam.wait_for("Audio: loopback started (48000 Hz, 2 ch, float32 -> 8000 Hz mono G.711u)", 10)
            check("Audio: not available on this PC" not in cam.output, "audio start failed with a server")
            check(len(samples) >= 8000 * 7, f"only {len(samples)} audio samples in 8 s")
            # A fresh null sink may take two seconds to deliver; judge the end.
            tail = samples[-8000 * 3:]
            peak = max(abs(v) for v in tail)
            check(peak > 8000, f"audio track nearly silent (peak {peak})")
            for start in (0, 8000, 16000):
                hz, share = spectrum_peak(tail[start:start + 1600])
                print(f"second {start // 8000}: peak {hz:.1f} Hz, {share * 100:.1f}% of the energy near it")
                check(abs(hz - 1000) <= 20, f"audio peak at {hz:.1f} Hz, not 1 kHz")
                check(share > 0.9, f"tone not clean: {share * 100:.1f}% near the peak")

            # The sound server goes away while a viewer plays: silence, no hang.
            before = len(cam.output)
            out = os.path.join(work, "lost.raw")
            viewer = subprocess.Popen(["ffmpeg", "-hide_banner", "-y", "-rtsp_transport", "tcp", "-t", "8",
                                       "-i", url, "-map", "0:a", "-f", "s16le", "-ar", "8000", "-ac", "1", out,
                                       "-map", "0:v", "-f", "null", "-"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            time.sleep(3)
            pulse.kill()
            cam.wait_for(re.compile(r"Audio: capture device lost \(hr=0x[0-9A-F]{8}\), continuing with silence"), 10)
            _, err = viewer.communicate(timeout=60)
            check(viewer.returncode == 0, f"viewer failed after the sound server went: {err[-600:]}")
            frames = [int(m) for m in re.findall(r"frame=\s*(\d+)", err)]
            check(frames and frames[-1] >= 60, f"video stalled after the loss: {frames[-1:]} frames in 8 s")
            lost = os.path.getsize(out) // 2
            check(lost >= 8000 * 7, f"audio stalled after the loss: {lost} samples in 8 s")
            check("Audio: capture device lost" in cam.output[before:], "loss not reported")
            check(cam.proc.poll() is None, "camera died")
    shutil.rmtree(work, ignore_errors=True)


run_main(main)
