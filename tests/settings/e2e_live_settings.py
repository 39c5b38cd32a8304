"""Live settings of a running camera, driven through its settings file while
ffmpeg plays the sub stream: the clock plate moves without a log line, the
plates switched off log "Live settings applied" and vanish, ONVIF GetOSDs
follows, fps alone changes nothing, stream_on pauses and resumes, and
restart.req ends the process and is removed."""

import os
import subprocess
import time

from camera import Camera, Xvfb, check, parse_args, run_main
from settings_e2e import Packets, StreamView, corners, get_osds, run_of, set_keys

ARGS = parse_args()
LIVE_LINE = "Live settings applied:"


def main():
    with Xvfb(1280, 720) as x:
        subprocess.run(["xsetroot", "-solid", "#808080"], env=x.env(), check=True)
        start = {"osd_name": 1, "osd_name_pos": 0, "osd_clock": 1, "osd_clock_pos": 1,
                 "show_cursor": 0, "web_admin": 0, "device_name": "Desk1"}
        with Camera(ARGS.bin, start, display=x.display) as cam:
            cam.wait_for("RTSP server ready", 60)
            view = StreamView(f"rtsp://127.0.0.1:{cam.port('rtsp')}/screensub")
            try:
                run(cam, view)
            finally:
                view.close()


def run(cam, view):
    c = corners()
    ref = 0x80
    has = lambda f, k: view.differs(f, c[k], ref)
    view.wait_frame(lambda f: has(f, "tl") and has(f, "tr") and not has(f, "br"), 60,
                    "the name top-left and the clock top-right")

    # Position only: the clock moves, nothing is logged.
    set_keys(cam.cfg_path, osd_clock_pos=3)
    took = view.wait_frame(lambda f: has(f, "br") and not has(f, "tr"), 10, "the clock moved")
    print(f"clock moved after {took:.2f} s")
    check(LIVE_LINE not in cam.output, "a position change logged 'Live settings applied'")
    osds = get_osds(cam.port("onvif"))
    check('token="osd_clock"' in osds and "LowerRight" in osds and "Desk1" in osds,
          f"GetOSDs does not show the moved clock: {osds[-600:]}")

    # Both plates off: logged, gone from the picture, and the clock from GetOSDs.
    set_keys(cam.cfg_path, osd_name=0, osd_clock=0, device_name="Desk2")
    cam.wait_for(LIVE_LINE + " name=0 clock=0 cursor=0", 10)
    view.wait_frame(lambda f: not any(has(f, k) for k in c), 6, "no plate left")
    osds = get_osds(cam.port("onvif"))
    check('token="osd_clock"' not in osds and "Desk2" in osds, f"GetOSDs: {osds[-600:]}")

    # fps alone: nothing happens until the next start (no log line, frames
    # still 9000 ticks apart), while a later live change in the same file applies.
    packets = Packets(f"rtsp://127.0.0.1:{cam.port('rtsp')}/screensub")
    try:
        packets.wait(run_of(9000, 3), 60, "frames at 10 fps")
        lines = cam.output.count("\n")
        set_keys(cam.cfg_path, fps=2)
        set_keys(cam.cfg_path, osd_clock=1)
        view.wait_frame(lambda f: has(f, "br"), 10, "the clock back")
        new = cam.output.splitlines()[lines:]
        check(all(l.startswith(LIVE_LINE) for l in new), f"fps change logged: {new}")
        n = len(packets.list)
        packets.wait(lambda p: len(p) >= n + 4, 30, "more frames")
        check(run_of(9000, 3)(packets.list), "the frame step changed after fps = 2")
    finally:
        packets.close()

    # stream_on pauses (the dark paused picture) and resumes.
    centre = (W4 := view.w // 4, view.h // 3, 3 * W4, 2 * view.h // 3)
    dark = lambda f: sum(f[y * view.w + x] for y in range(centre[1], centre[3], 8)
                         for x in range(centre[0], centre[2], 8)) / (
        len(range(centre[1], centre[3], 8)) * len(range(centre[0], centre[2], 8))) < 90
    set_keys(cam.cfg_path, stream_on=0)
    view.wait_frame(dark, 10, "the paused picture")
    set_keys(cam.cfg_path, stream_on=1)
    view.wait_frame(lambda f: not dark(f), 10, "the live screen again")

    # restart.req: the process ends by itself with code 0 and the file is gone.
    req = os.path.join(cam.data_dir, "restart.req")
    open(req, "w").close()
    t0 = time.time()
    code = cam.wait_exit(15)
    took = time.time() - t0
    print(f"restart.req ended the process after {took:.2f} s")
    check(code == 0, f"exit code {code}")
    check(not os.path.exists(req), "restart.req left behind")
    check("Restart requested by the control panel in another session" in cam.output, "no log line")


run_main(main)
