"""Auto-revert across starts of the real program, through the three files
beside the settings file: a hold that ran out while the program was stopped is
reverted at start-up; a hold still running at start-up is reverted when it
runs out and the engine relaunches on the old settings; a change that moved
the web panel to a port a test process holds is reverted after the bind, the
engine relaunches, and the next start takes the note and warns."""

import os
import re
import socket
import time
from pathlib import Path

from camera import Camera, check, free_port, parse_args, run_main
from settings_e2e import stop_camera, wait_output

ARGS = parse_args()
WARNING = ("CONFIG: \u26A0 The new settings did not work (the requested port was busy) - "
           "the previous settings were restored automatically")


def held(cam, old, new, seconds_left):
    """Leaves the camera's data directory as a remote save would: the new
    settings in zeb.cfg, the old ones in the backup, a marker with a deadline."""
    cam.settings.update(new)
    cam.write_settings()
    cfg = Path(cam.cfg_path)
    backup = cfg.read_text().replace(f"{next(iter(new))} = {next(iter(new.values()))}",
                                     f"{next(iter(old))} = {next(iter(old.values()))}")
    Path(cam.cfg_path + ".bak").write_text(backup)
    Path(cam.cfg_path + ".pending").write_text(
        f"deadline={int(time.time()) + seconds_left}\r\nhold=90\r\norigin=10.9.9.9\r\n")
    cam.write_cfg = False
    return backup


def files_gone(cam):
    return not any(os.path.exists(cam.cfg_path + s) for s in (".bak", ".pending"))


def banners(n):
    return re.compile(r"(?s)" + r".*?".join([r"  Auth      :"] * n))


def expired_while_stopped():
    cam = Camera(ARGS.bin, {"web_admin": 0})
    old, new = cam.port("rtsp"), free_port()
    backup = held(cam, {"rtsp_port": old}, {"rtsp_port": new}, -5)
    try:
        cam.start()
        check("CFG: settings AUTO-REVERTED to previous values (hold expired while program was "
              "not running)" in cam.output, "no start-up revert")
        check(f"  RTSP main : rtsp://127.0.0.1:{old}/" in cam.output, "not on the old port")
        check(Path(cam.cfg_path).read_text() == backup and files_gone(cam), "files left")
    finally:
        stop_camera(cam)


def runs_out_after_start():
    cam = Camera(ARGS.bin, {"web_admin": 0})
    old, new = cam.port("onvif"), free_port()
    held(cam, {"onvif_port": old}, {"onvif_port": new}, 5)
    try:
        cam.start()
        check(re.search(r"CFG: pending confirmation - [1-5] s left before auto-revert",
                        cam.output), "no seconds-left line")
        check(f"ONVIF     : http://127.0.0.1:{new}/" in cam.output, "not on the new port")
        wait_output(cam, "CFG: settings AUTO-REVERTED to previous values (no confirmation "
                    "within hold window)", 30)
        wait_output(cam, banners(2), 60)  # the relaunched engine
        second = cam.output[cam.output.rindex("=== zeb-engine"):]
        check(f"ONVIF     : http://127.0.0.1:{old}/" in second, "relaunch not on the old port")
        check(files_gone(cam), "files left")
    finally:
        stop_camera(cam)


def busy_web_port():
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    holder.listen(1)
    busy = holder.getsockname()[1]
    cam = Camera(ARGS.bin, {"web_admin": 1})
    old = cam.port("web")
    backup = held(cam, {"web_port": old}, {"web_port": busy}, 80)
    try:
        cam.start(wait_for=None)
        wait_output(cam, "Bind failed on the new settings - previous settings restored, "
                    "restarting now", 90)
        wait_output(cam, WARNING, 60)  # the relaunched engine took the note
        wait_output(cam, banners(1), 30)
        check(f"  Web Admin : http://127.0.0.1:{old}/" in cam.output, "not on the old web port")
        check(Path(cam.cfg_path).read_text() == backup and files_gone(cam), "files left")
        check(not os.path.exists(cam.cfg_path + ".reverted"), "note not deleted")
        check(cam.output.count("Bind failed") == 1, "reverted twice")
    finally:
        holder.close()
        stop_camera(cam)


def main():
    expired_while_stopped()
    runs_out_after_start()
    busy_web_port()


run_main(main)
