"""The PC's sound through RTSP: a PulseAudio server of the test's own (never a
user session) plays a 1 kHz tone into a null sink; with audio = 1 the SDP
announces PCMU and ffmpeg decodes the audio track to that tone. Then the sound
server goes away mid-stream: the camera says so and both tracks keep flowing
(the audio as silence)."""

import math
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time

import sound_server
from camera import Camera, Xvfb, check, parse_args, run_main

args = parse_args()


def spectrum_peak(x, rate=8000.0):
    """Strongest frequency of 200 ms of x (5 Hz bins, parabolic refinement) and
    the share of the energy within 20 Hz of it."""
    n = int(rate / 5)
    mags = [abs(sum(v * complex(math.cos(2 * math.pi * k * i / n), math.sin(2 * math.pi * k * i / n))
                    for i, v in enumerate(x[:n]))) ** 2 for k in range(n // 2)]
    k = max(range(1, len(mags) - 1), key=lambda i: mags[i])
    a, b, c = (math.sqrt(m) for m in mags[k - 1:k + 2])
    shift = 0.5 * (a - c) / (a - 2 * b + c) if a - 2 * b + c else 0.0
    return (k + shift) * rate / n, sum(mags[k - 4:k + 5]) / max(sum(mags[1:]), 1e-9)


def main():
    work = tempfile.mkdtemp(prefix="zeb-audio-")
    # A 48 kHz float sink: the camera converts it down to 8 kHz mono.
    env, procs = sound_server.start_tone(work, 48000, 40, ("rate=48000", "format=float32le", "channels=2"))
    try:
        with Xvfb(640, 480) as x, Camera(args.bin, {"audio": 1, "log_verbose": 1, "fps": 10}, display=x.display,
                                         env=env) as cam:
            cam.wait_for("RTSP server ready", 60)
            url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive"
            # One viewer for 14 s, audio to a file and video decoded; the sound
            # server goes away 9 s in: silence must follow, and no stall.
            out = os.path.join(work, "audio.raw")
            viewer = subprocess.Popen(["ffmpeg", "-hide_banner", "-y", "-rtsp_transport", "tcp", "-t", "14", "-i", url,
                                       "-map", "0:a", "-f", "s16le", "-ar", "8000", "-ac", "1", out,
                                       "-map", "0:v", "-f", "null", "-"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            cam.wait_for("Audio: loopback started (48000 Hz, 2 ch, float32 -> 8000 Hz mono G.711u)", 20)
            time.sleep(9)
            sound_server.stop(procs)
            cam.wait_for(re.compile(r"Audio: sound server lost \(PulseAudio error \d+\), continuing with silence"), 10)
            _, err = viewer.communicate(timeout=70)
            check(viewer.returncode == 0, f"viewer failed: {err[-800:]}")
            check("Audio: pcm_mulaw, 8000 Hz, mono" in err, f"no PCMU track in the SDP:\n{err[-800:]}")
            frames = [int(m) for m in re.findall(r"frame=\s*(\d+)", err)]
            check(frames and frames[-1] >= 105, f"video stalled: {frames[-1:]} frames in 14 s")
            data = open(out, "rb").read()
            samples = struct.unpack(f"<{len(data) // 2}h", data)
            check(len(samples) >= 8000 * 13, f"audio stalled: {len(samples)} samples in 14 s")
            check(max(map(abs, samples[-8000:])) < 100, "no silence after the sound server went")
            # A fresh null sink may take two seconds to deliver: judge seconds 4 to 7.
            tone = samples[8000 * 4:8000 * 7]
            check(max(map(abs, tone)) > 8000, "audio track nearly silent")
            for start in (0, 8000, 16000):
                hz, share = spectrum_peak(tone[start:start + 1600])
                print(f"second {4 + start // 8000}: peak {hz:.1f} Hz, {share * 100:.1f}% of the energy near it")
                check(abs(hz - 1000) <= 20 and share > 0.9, f"not a clean 1 kHz tone: {hz:.1f} Hz, {share:.2f}")
            check(cam.proc.poll() is None, "camera died")
    finally:
        sound_server.stop(procs)
        shutil.rmtree(work, ignore_errors=True)


run_main(main)
