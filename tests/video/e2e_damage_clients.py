"""Real clients on the damage path (skip pictures, changes in intra slices,
keyframes of stored rows, renumbered library pictures): for a still text desktop and for a 400x300 window changing every
frame, ffmpeg (copy to MKV, then ffprobe -show_frames), GStreamer (rtspsrc !
avdec_h264) and mpv play at once with no decoder error or warning; the frame
rate is the configured 10 per second; and once the window stops, a decoded
frame matches a screenshot of the X screen outside the plates (PSNR > 35 dB).

  e2e_damage_clients.py --bin zeb_onvif [--seconds 15]"""

import os
import re
import signal
import subprocess
import tempfile
import time

from camera import Camera, Xvfb, check, parse_args, run_main

def _options(ap):
    ap.add_argument("--seconds", type=int, default=15)
    ap.add_argument("--full", action="store_true", help="the whole-frame path, for comparison")


ARGS = parse_args(_options)
W, H = 1280, 720
FPS = 10
# The plates (clock top-right, name bottom-right) are left out of the comparison.
MASKS = [(W - 460, 0, 460, 90), (W - 300, H - 90, 300, 90)]
NOISE = re.compile(r"error|warn|corrupt|concealing|non-existing|decode_slice|missing",
                   re.IGNORECASE)


def text_desktop(path):
    cmd = ["convert", "-size", f"{W}x{H}", "xc:#dfe4ea", "-fill", "white", "-draw",
           f"rectangle 60,20 1000,{H - 20}", "-font", "DejaVu-Sans", "-pointsize", "14",
           "-fill", "#202020"]
    for i in range(30):
        cmd += ["-annotate", f"+80+{45 + i * 21}", f"{i:03d} The quick brown fox jumps over the lazy dog"]
    subprocess.run(cmd + [path], check=True, timeout=120)


def problems(text):
    return [line for line in text.splitlines() if NOISE.search(line)]


def play_all(url_main, url_sub, seconds, tmp):
    """Runs the three clients at once; returns (mkv path, gst buffers per s, logs)."""
    mkv = os.path.join(tmp, "main.mkv")
    ff = subprocess.Popen(["ffmpeg", "-hide_banner", "-v", "warning", "-rtsp_transport", "tcp",
                           "-i", url_main, "-t", str(seconds), "-c", "copy", "-y", mkv],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    gst = subprocess.Popen(["gst-launch-1.0", "-e", "-v", "rtspsrc", f"location={url_sub}",
                            "protocols=tcp", "!", "rtph264depay", "!", "h264parse", "!",
                            "avdec_h264", "!", "fakesink", "silent=false"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    mpv = subprocess.Popen(["mpv", "--no-config", "--vo=null", "--ao=null", "--no-audio",
                            f"--frames={seconds * FPS}", "--rtsp-transport=tcp", url_main],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    ff_err = ff.communicate(timeout=seconds + 120)[1]
    check(ff.returncode == 0, f"ffmpeg failed: {ff_err[-500:]}")
    mpv_out = mpv.communicate(timeout=seconds + 120)[0]
    check(mpv.returncode == 0, f"mpv failed: {mpv_out[-500:]}")
    gst.send_signal(signal.SIGINT)
    gst_out, gst_err = gst.communicate(timeout=60)
    # fakesink prints one "chain" line per decoded picture with its timestamp.
    pts = [float(m.group(1)) * 3600 + float(m.group(2)) * 60 + float(m.group(3))
           for m in re.finditer(r"chain.*?pts: (\d+):(\d+):([\d.]+)", gst_out)]
    gst_rate = (len(pts) - 1) / (pts[-1] - pts[0]) if len(pts) > 1 else 0
    gst_problems = [l for l in problems(gst_err + gst_out) if "chain" not in l
                    and "WARNING: from element /GstPipeline:pipeline0/GstRTSPSrc" not in l]
    return mkv, len(pts), gst_rate, {"ffmpeg": problems(ff_err), "mpv": problems(mpv_out),
                                     "gstreamer": gst_problems}


def check_mkv(mkv, seconds):
    r = subprocess.run(["ffprobe", "-v", "warning", "-show_frames", "-select_streams", "v",
                        "-show_entries", "frame=pts_time", "-of", "csv=p=0", mkv],
                       capture_output=True, text=True, timeout=300)
    check(not problems(r.stderr), f"ffprobe complained: {problems(r.stderr)[:5]}")
    times = [float(t) for t in r.stdout.split() if t]
    expected = seconds * FPS
    # A loaded machine misses a few capture slots (a double step below);
    # more than a tenth, or more frames than slots, is a fault.
    check(expected * 0.9 <= len(times) <= expected * 1.02 + 1,
          f"{len(times)} frames in the MKV, expected {expected}")
    # (ffmpeg gives the first two pictures of a session the same time on
    # either capture path.) From there on each picture is a whole number of
    # frame periods later: one, or two where a loaded machine missed a slot.
    steps = {round((b - a) / 0.1, 2) for a, b in zip(times[1:], times[2:])}
    check(all(s >= 1 and s == int(s) for s in steps),
          f"frame timestamps are not whole frame periods apart: {sorted(steps)[:5]}")
    return len(times)


def psnr_outside_plates(url, env, tmp):
    """Luma PSNR of the last frame of a few seconds of the stream against a screenshot taken
    right after (the screen is still by then)."""
    frame = os.path.join(tmp, "frame.png")
    subprocess.run(["ffmpeg", "-v", "error", "-rtsp_transport", "tcp", "-i", url, "-t", "3",
                    "-update", "1", "-y", frame], check=True, timeout=120)
    shot = os.path.join(tmp, "shot.png")
    subprocess.run(["import", "-window", "root", shot], env=env, check=True, timeout=60)
    boxes = ",".join(f"drawbox={x}:{y}:{w}:{h}:black:t=fill" for x, y, w, h in MASKS)
    r = subprocess.run(["ffmpeg", "-v", "info", "-i", frame, "-i", shot, "-lavfi",
                        f"[0]format=gray,{boxes}[a];[1]format=gray,{boxes}[b];[a][b]psnr",
                        "-f", "null", "-"], capture_output=True, text=True, timeout=120)
    m = re.search(r"average:([\d.]+|inf)", r.stderr)
    check(m, f"no PSNR from ffmpeg: {r.stderr[-300:]}")
    return float(m.group(1))


def scene(name, x, tmp, window=None):
    settings = {"web_admin": 0, "substream": 1, "show_cursor": 0, "fps": FPS,
                "damage_capture": 0 if ARGS.full else 1}
    with Camera(ARGS.bin, settings, display=x.display) as cam:
        base = f"rtsp://127.0.0.1:{cam.port('rtsp')}"
        t0 = time.time()
        mkv, gst_frames, gst_rate, logs = play_all(base + "/screenlive", base + "/screensub",
                                                   ARGS.seconds, tmp)
        wall = time.time() - t0
        frames = check_mkv(mkv, ARGS.seconds)
        for client, lines in logs.items():
            check(not lines, f"{name}: {client} reported {lines[:5]}")
        # Frames arrive live at 10 per second (the wall time also holds the
        # start-up), fewer only where a loaded machine missed a slot.
        check(FPS * 0.9 <= gst_rate <= FPS * 1.02, f"{name}: GStreamer timestamps at {gst_rate:.2f}/s")
        check(gst_frames >= ARGS.seconds * FPS * 0.9, f"{name}: GStreamer decoded {gst_frames}")
        if window:
            os.kill(window.pid, signal.SIGSTOP)  # the window stops changing
        psnr = psnr_outside_plates(base + "/screenlive", x.env(), tmp)
        if window:
            os.kill(window.pid, signal.SIGCONT)
        print(f"{name}: {frames} frames in MKV, GStreamer {gst_frames} at {gst_rate:.2f}/s, "
              f"wall {wall:.1f} s, PSNR {psnr:.1f} dB", flush=True)
        check(psnr > 35, f"{name}: decoded frame differs from the screen ({psnr:.1f} dB)")
        check("RTSP: re-initialised" not in cam.output, "unexpected re-initialisation")


def main():
    with tempfile.TemporaryDirectory() as tmp, Xvfb(W, H) as x:
        desk = os.path.join(tmp, "desk.png")
        text_desktop(desk)
        # display exits with 1 after painting the root window; the picture stays.
        subprocess.run(["display", "-window", "root", desk], env=x.env(), timeout=60)
        scene("still desktop", x, tmp)
        env = dict(x.env(), SDL_VIDEODRIVER="x11")
        win = subprocess.Popen(["ffmpeg", "-v", "error", "-re", "-f", "lavfi", "-i",
                                f"testsrc=size=400x300:rate={FPS}", "-f", "sdl2", "-window_x",
                                "300", "-window_y", "200", "-window_borderless", "1", "moving"],
                               env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        try:
            # Wait until the window shows on the screen (a mapped child of the root).
            deadline = time.time() + 60
            while time.time() < deadline:
                tree = subprocess.run(["xwininfo", "-root", "-children"], env=x.env(),
                                      capture_output=True, text=True).stdout
                if '"moving"' in tree:
                    break
                time.sleep(0.2)
            check('"moving"' in tree, "the moving window did not appear")
            scene("400x300 window", x, tmp, window=win)
        finally:
            win.kill()
            win.wait()


run_main(main)
