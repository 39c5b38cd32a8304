"""Single-instance signals and the streaming-warning badge of the Windows
program under Wine, driven from Linux.

    signals_test.py --exe build-win/zeb_onvif.exe [--prefix build-win/wineprefix]

Same set-up as smoke_test.py (whose pieces it uses): a network namespace of its
own, an Xvfb screen, a wineserver for the prefix started in that namespace, the
program with its own data directory. Checks:

- the camera arms the badge (warn_live = 1, corner 3) and, under Wine, logs that
  the badge cannot be excluded from capture;
- the badge is shown within about a second of ffmpeg's PLAY and hidden within
  about a second of ffmpeg leaving (the two log lines), and window_rect.exe
  reads the "ZEBStreamWarn" window back: visible, 14 px inside the bottom-right
  corner of the work area, of a size that fits the two lines; hidden after;
- a second interactive start posts the show-panel request to the first one and
  exits 0, and the first logs it;
- with the mutex held by hold_mutex.exe (a camera in another session: it has
  no message window to post to), an interactive start retries for about 4 s,
  becomes panel-only with its log line and binds no port.

Given a Linux build (--exe build/zeb_onvif) the same flow runs natively (the
instance lock held by this script, no window read-back), which tries the
test's side without the Windows build. Everything it starts is ended by PID;
the wineserver with `wineserver -k` for the prefix."""

import fcntl
import os
import re
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import smoke_test as s  # noqa: E402
from smoke_test import Child, h, run, step, wait_until  # noqa: E402

WAIT = s.WAIT
SHOW_LINE = "Panel: show-panel request received"
# Whole lines; the Windows console's text mode ends them with CR LF.
PANEL_ONLY_LINE = "Panel-only mode: the camera runs in another session on this PC"


def tool(plat, name):
    """A helper program beside zeb_onvif.exe (the Windows build puts it there)."""
    path = os.path.join(os.path.dirname(plat.exe), name)
    h.check(os.path.exists(path), f"{path} is built")
    return path


def logged(cam, line):
    return re.search("^" + re.escape(line) + "\r?$", cam.output, re.M) is not None


def when_logged(cam, line, timeout=WAIT):
    """Waits for a whole line in the camera's output; returns the time it
    arrived (polled finely, so the figure is good to some tens of ms)."""
    deadline = time.time() + timeout
    while not logged(cam, line):
        if time.time() > deadline:
            raise TimeoutError(f"no {line!r} in the camera's output")
        if cam.proc.poll() is not None:
            time.sleep(0.5)
            h.check(logged(cam, line), f"camera exited ({cam.proc.returncode}) before {line!r}")
        time.sleep(0.02)
    return time.time()


def window_rect(plat):
    """Where the badge window is: a dict of window_rect.exe's fields, or None."""
    out = run(["timeout", "-k", "5", "60", s.WINE, tool(plat, "window_rect.exe")],
              timeout=90, env=plat.camera_env)
    line = out.stdout.decode(errors="replace").strip()
    if not line or line.startswith("none"):
        return None
    got = dict(kv.split("=", 1) for kv in line.split())
    got["work"] = [int(v) for v in got["work"].split(",")]
    for k in ("visible", "left", "top", "right", "bottom"):
        got[k] = int(got[k])
    return got


class Viewer:
    """ffmpeg playing the main stream for a few seconds; notes when it sent
    PLAY (from its debug output) and when it ended."""

    def __init__(self, cam, seconds):
        url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/{cam.settings['stream']}"
        self.play_at = None
        self.lines = []
        self.child = Child(["timeout", "-k", "5", str(seconds + 60), "ffmpeg", "-nostdin",
                            "-loglevel", "trace", "-rtsp_transport", "tcp", "-i", url,
                            "-t", str(seconds), "-f", "null", "-"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for raw in iter(self.child.proc.stderr.readline, b""):
            if self.play_at is None and b"PLAY rtsp://" in raw:
                self.play_at = time.time()
            self.lines.append(raw)

    def wait_end(self, timeout):
        self.child.proc.wait(timeout)
        ended = time.time()
        self.child.__exit__()
        return ended


def check_badge(plat, cam):
    when_logged(cam, "OSD: local streaming warning armed (corner=3)")
    if plat.wine:
        line = cam.wait_for(re.compile(r"OSD: cannot exclude the streaming warning from screen "
                                       r"capture \(error \d+\)[^\n]*"), WAIT)
        print("affinity:", line, flush=True)
        before = window_rect(plat)
        h.check(before is None or not before["visible"], f"no badge before anybody watches: {before}")
    viewer = Viewer(cam, seconds=8)
    shown_at = when_logged(cam, "OSD: streaming warning shown (viewers=1)")
    try:
        wait_until("ffmpeg's PLAY", lambda: viewer.play_at, 30, 0.05)
    except TimeoutError:
        sys.stdout.write(b"".join(viewer.lines[-40:]).decode(errors="replace"))
        raise
    shown_delay = shown_at - viewer.play_at
    print(f"badge shown {shown_delay:.2f} s after PLAY", flush=True)
    if plat.wine:
        got = wait_until("the badge window", lambda: (lambda r: r if r and r["visible"] else None)(
            window_rect(plat)), 60, 0.2)
        print("badge window:", got, flush=True)
        left, top, right, bottom = got["work"]
        width, height = got["right"] - got["left"], got["bottom"] - got["top"]
        h.check(got["right"] == right - 14 and got["bottom"] == bottom - 14,
                f"14 px inside the bottom-right corner of {got['work']}")
        # Title 15 px bold and the Arabic line at 12 px, + 36 and + 22.
        h.check(15 + 12 + 22 <= height <= 3 * (15 + 12) + 22, f"height {height} fits two lines")
        h.check(36 + 8 * 15 <= width <= right - left, f"width {width} fits the title")
        h.check(got["exstyle"] == "0x80800a8",  # layered, no-activate, tool, topmost, transparent
                f"extended styles {got['exstyle']}")
    ended = viewer.wait_end(90)
    hidden_at = when_logged(cam, "OSD: streaming warning hidden")
    hidden_delay = hidden_at - ended
    print(f"badge hidden {hidden_delay:.2f} s after the viewer left", flush=True)
    if plat.wine:
        got = window_rect(plat)
        h.check(got is not None and not got["visible"], f"badge window hidden: {got}")
    # The badge polls every 500 ms; a loaded machine gets slack, the figures
    # above are what counts.
    h.check(shown_delay < 3 and hidden_delay < 3,
            f"shown {shown_delay:.2f} s, hidden {hidden_delay:.2f} s after the viewer")


def check_second_start(plat, cam):
    t0 = time.time()
    out = run(plat.argv(limit=90), timeout=120, env=plat.camera_env)
    took = time.time() - t0
    h.check(out.returncode == 0,
            f"second start exit {out.returncode}: {out.stdout[-500:].decode(errors='replace')}")
    cam.wait_for(SHOW_LINE, WAIT)
    h.check(cam.proc.poll() is None and s.port_answers(cam.port("rtsp")), "the first still runs")
    print(f"second start delivered the request and exited 0 in {took:.1f} s", flush=True)


def hold_instance(plat, data_dir):
    """Something that holds the single instance but answers no show-panel
    request: hold_mutex.exe under Wine, this script's own flock on Linux."""
    if plat.wine:
        holder = Child(["timeout", "-k", "5", "300", s.WINE, tool(plat, "hold_mutex.exe")],
                       env=plat.camera_env, stdout=subprocess.PIPE)
        line = holder.proc.stdout.readline().decode(errors="replace")
        h.check(line.strip() == "held", f"hold_mutex.exe: {line!r}")
        return holder
    os.makedirs(data_dir, exist_ok=True)
    f = open(os.path.join(data_dir, "instance.lock"), "a+")
    fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
    return f


def check_panel_only(plat):
    holder = hold_instance(plat, os.path.join(plat.data_root, "Orvanta"))
    try:
        panel = h.Camera(plat.exe, settings=plat.settings, display=plat.display,
                         data_root=plat.data_root, write_cfg=False, background=False,
                         env=plat.camera_extra, prefix=plat.argv()[:-1])
        t0 = time.time()
        panel.start(wait_for=None)
        at = when_logged(panel, PANEL_ONLY_LINE)
        took = at - t0
        print(f"panel-only after {took:.1f} s", flush=True)
        h.check(took >= 3.5, f"ten tries 400 ms apart before giving up, not {took:.1f} s")
        h.check(not s.port_answers(int(plat.settings["rtsp_port"])),
                "a panel-only start binds no port")
        h.check(panel.proc.poll() is None, "the panel-only start keeps running")
        panel.stop()
    finally:
        if plat.wine:
            holder.__exit__()
        else:
            holder.close()


def signals(args):
    plat = s.Platform(args.exe, args.prefix)
    # The Linux desktop would greet a first start with its welcome window.
    s.wine_setup(plat, welcomed=True)
    rtsp, onvif, web = h.free_ports(3)
    plat.settings = {
        "rtsp_port": rtsp, "onvif_port": onvif, "web_port": web, "web_admin": 0,
        "announce_ip": "127.0.0.1", "discovery": 0, "stream": "winmain", "fps": 5,
        "main_width": 640, "substream": 0, "audio": 0, "osd_name": 0, "osd_clock": 0,
        "warn_live": 1, "warn_pos": 3, "warn_size": 1, "warn_op": 80, "lang": "en",
        "eula_accepted": 1}

    with step("first start"):
        cam = h.Camera(plat.exe, settings=plat.settings, display=plat.display,
                       data_root=plat.data_root, env=plat.camera_extra,
                       prefix=plat.argv()[:-1])
        cam.start(timeout=WAIT)
        wait_until("rtsp port", lambda: s.port_answers(cam.port("rtsp")), WAIT)
    with step("badge follows the viewer"):
        check_badge(plat, cam)
    with step("second interactive start"):
        check_second_start(plat, cam)
    cam.stop()
    with step("panel-only start"):
        check_panel_only(plat)


def main():
    args = s.parse_args("zeb_onvif.exe (under Wine) or a Linux zeb_onvif")
    s.run_test(lambda: signals(args), args.prefix, args.exe.lower().endswith(".exe"))


if __name__ == "__main__":
    main()
