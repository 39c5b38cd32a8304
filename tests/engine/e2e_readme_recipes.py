"""Runs every command of the README's "Use it" section against a real camera,
so that the README cannot go stale: the players show pictures, the MKV
recording holds ten seconds at 10 fps, the ONVIF address answers, motion (when
installed) records at 10 fps with the README's lines and credentials and
reconnects after the camera restarts, ZoneMinder's source path plays over
RTSP/TCP, and the ports.status and ss commands show the ports. A command the
test does not know fails it."""

import glob
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from camera import Camera, Xvfb, check, parse_args, private_netns, run_main

README = Path(os.environ.get("ZEB_SOURCE_DIR", Path(__file__).resolve().parents[2]), "README.md")
PORTS = {"rtsp_port": 8554, "onvif_port": 8000, "web_port": 8080}


def use_it_blocks():
    """The fenced blocks of the "Use it" section: [(info string, lines)]."""
    text = README.read_text()
    section = text.split("## Use it", 1)[1].split("\n## ", 1)[0]
    return [(m.group(1), [l for l in m.group(2).splitlines() if l.strip()])
            for m in re.finditer(r"```(\w+)\n(.*?)```", section, re.S)]


def probe(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                        "-show_entries", "stream=codec_name,nb_read_frames:format=duration",
                        "-of", "json", str(path)], capture_output=True, timeout=60)
    info = json.loads(r.stdout or b"{}")
    s = (info.get("streams") or [{}])[0]
    return s.get("codec_name"), int(s.get("nb_read_frames", 0)), float(
        info.get("format", {}).get("duration", 0))


def until_output(cmd, pattern, env, cwd, timeout=40, shell=False):
    """Starts cmd, waits until its output matches pattern, then ends it."""
    p = subprocess.Popen(cmd, shell=shell, env=env, cwd=cwd, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                         start_new_session=True)
    out, deadline = b"", time.time() + timeout
    os.set_blocking(p.stdout.fileno(), False)
    while time.time() < deadline and not re.search(pattern, out.decode(errors="replace")):
        chunk = p.stdout.read() or b""
        out += chunk
        if not chunk:
            if p.poll() is not None:
                break
            time.sleep(0.1)
    if p.poll() is None:
        os.killpg(p.pid, signal.SIGTERM)
    p.wait(10)
    text = out.decode(errors="replace")
    check(re.search(pattern, text), f"{cmd}: no {pattern!r} in\n{text[-2000:]}")
    return text


class Recipes:
    def __init__(self, binary, x):
        self.binary, self.x = binary, x
        self.work = tempfile.mkdtemp(prefix="zeb-readme-")
        self.env = dict(os.environ, DISPLAY=x.display, SDL_AUDIODRIVER="dummy", HOME=self.work)
        self.cam = None
        self.conf = []

    def start_camera(self, root=None, **settings):
        self.cam = Camera(self.binary, display=self.x.display, data_root=root,
                          settings=dict(PORTS, **settings))
        self.cam.start()
        return self.cam

    def run(self, line):
        tool = line.split()[0]
        getattr(self, "run_" + tool, self.unknown)(line)

    def unknown(self, line):
        raise AssertionError(f"README command not covered by this test: {line}")

    def run_ffplay(self, line):
        # A decoded picture moves the clock shown in ffplay's status line.
        until_output(line.split(), r"Video: h264.*\n(.|\n)*\d+\.\d+ M-V:", self.env, self.work)

    def run_mpv(self, line):
        until_output(line.split(), r"VO: \[\w+\] \d+x\d+", self.env, self.work)

    def run_ffmpeg(self, line):
        r = subprocess.run(line.split(), env=self.env, cwd=self.work, capture_output=True,
                           timeout=90)
        codec, frames, duration = probe(Path(self.work, "screen.mkv"))
        print(f"ffmpeg to MKV: {codec}, {frames} frames in {duration:.2f} s")
        check(r.returncode == 0 and codec == "h264" and 9.5 <= duration <= 10.5
              and 90 <= frames <= 110, f"recording: {codec} {frames} frames {duration} s")

    def shell(self, line):
        return subprocess.run(["sh", "-c", line.replace("/var/lib/orvanta", self.cam.data_dir)],
                              capture_output=True, timeout=30, text=True).stdout

    def run_curl(self, line):
        out = self.shell(line)
        check("GetSystemDateAndTimeResponse" in out, f"curl said {out[:300]!r}")

    def run_cat(self, line):  # ports.status, in the test's data directory
        out = self.shell(line)
        check(out.startswith("rtsp=8554,8554,1\nonvif=8000,8000,1\nweb=8080,8080,1\n"), out)

    def run_ss(self, line):
        out = self.shell(line)
        check(all(f":{p} " in out for p in PORTS.values()), f"ss shows {out}")

    def run_motion(self, line):
        if not shutil.which("motion"):
            print("SKIP motion: not installed (scripts/install-deps.sh installs it)")
            return
        movies = Path(self.work, "movies")
        movies.mkdir()
        self.motion_log = Path(self.work, "motion.log")
        # The README's lines, then where to write, 5 s movies and no ports of its own.
        Path(self.work, "camera.conf").write_text("\n".join(self.conf + [
            f"target_dir {movies}", f"log_file {self.motion_log}", "log_level 6",
            "webcontrol_port 0", "stream_port 0", "movie_max_time 5"]) + "\n")
        # Restarts with authentication on: the README's credentials must pass.
        self.cam.stop(15)
        self.start_camera(self.cam.root, stream_auth=1)
        p = subprocess.Popen(line.split(), cwd=self.work, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            first = self.wait_movies(movies, 2)[0]  # a whole movie before the restart
            self.cam.stop(15)
            t_stop = time.time()
            self.start_camera(self.cam.root, stream_auth=1)
            self.wait_log(r"(netcam_rtsp_connect: .* connected(.|\n)*){2}")
            print(f"motion: connected again {time.time() - t_stop:.1f} s after the camera stopped")
            old = set(self.wait_movies(movies, 0))
            after = [m for m in self.wait_movies(movies, len(old) + 2) if m not in old][0]
        finally:
            os.killpg(p.pid, signal.SIGTERM)
            p.wait(30)
        for movie in (first, after):
            codec, frames, duration = probe(movie)
            fps = frames / duration if duration else 0
            print(f"motion: {movie.name}: {codec}, {frames} frames in {duration:.2f} s"
                  f" = {fps:.1f} fps")
            check(duration >= 3 and 8.5 <= fps <= 11.5, f"{movie.name}: {fps:.1f} fps")

    def zoneminder(self):
        """ZoneMinder needs its database and web server, so it is not run here
        even when installed; its Ffmpeg source is libavformat over RTSP/TCP,
        which ffprobe drives the same way on the README's source path."""
        text = README.read_text()
        path = re.search(r"Source Path\s+`(rtsp://[^`]+)`", text).group(1)
        print("SKIP ZoneMinder itself: " + ("installed, but needs its database and web server"
                                            if shutil.which("zmc") else "not installed")
              + "; its source path is read with ffprobe over RTSP/TCP instead")
        r = subprocess.run(["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-show_entries",
                            "stream=codec_name,avg_frame_rate", "-of", "csv=p=0",
                            path.replace("@IP:", "@127.0.0.1:")],
                           capture_output=True, text=True, timeout=60)
        check(r.stdout.startswith("h264,10/1"), f"ZoneMinder source path: {r.stdout}{r.stderr}")

    def wait_until(self, found, what, timeout=90):
        deadline = time.time() + timeout
        while time.time() < deadline:
            result = found()
            if result:
                return result
            time.sleep(0.5)
        raise AssertionError(f"motion: no {what}:\n" + self.motion_log.read_text()[-3000:])

    def wait_log(self, pattern):
        self.wait_until(lambda: self.motion_log.exists()
                        and re.search(pattern, self.motion_log.read_text()), pattern)

    def wait_movies(self, movies, n):
        """Motion's movies, sorted by name (it begins with the time), once there are n."""
        def listed():
            files = sorted(Path(p) for p in glob.glob(f"{movies}/*.m[kp][v4]"))
            return files if len(files) >= n else None
        return self.wait_until(listed, f"{n} movies")


def main():
    args = parse_args()
    private_netns()  # the README's default ports are free only here
    blocks = use_it_blocks()
    check(blocks and all(info in ("sh", "conf") for info, _ in blocks), f"blocks: {blocks}")
    with Xvfb(1280, 720) as x:
        subprocess.run(["xsetroot", "-solid", "#3050a0"], env=dict(os.environ, DISPLAY=x.display))
        r = Recipes(args.bin, x)
        r.start_camera()
        try:
            for info, lines in blocks:
                if info == "conf":
                    r.conf = lines
                    continue
                for line in lines:
                    print(f"README: {line}")
                    r.run(line)
            r.zoneminder()
        finally:
            r.cam.stop(15)


run_main(main)
