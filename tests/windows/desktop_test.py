"""The Win32 desktop interface of the Windows program under Wine, driven from
Linux.

    desktop_test.py --exe build-win/zeb_onvif.exe [--prefix build-win/wineprefix]

Same set-up as signals_test.py (smoke_test.py's pieces: a network namespace of
its own, an Xvfb screen, a wineserver for the prefix started there). Checks:

- --dump-welcome writes welcome_ar.png and welcome_en.png, 720 px wide PNGs
  of different pictures (kept in the build directory to look at);
- --selftest-strings exits 0 and writes its report to the file it is given;
- a first interactive start shows the welcome window ("ZEBWelcomeWnd", read
  by window_rect.exe), which once closed (a WM_COMMAND IDOK) leaves
  welcomed.flag; the agreement ("ZEBAgreementWnd") follows and accepting it
  records eula_accepted; the tray icon is added to the "ZEBAdminMsg" window;
- the tray menu's Pause and language items, sent as their WM_COMMANDs to
  "ZEBAdminMsg", pause the stream (kept in the settings file) and switch to
  Arabic; "TaskbarCreated" to "ZEBTrayWatch" adds the icon again;
- the tray menu's Exit ends the program with exit code 0."""

import os
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import smoke_test as s  # noqa: E402
from signals_test import tool, when_logged  # noqa: E402
from smoke_test import h, run, step, wait_until  # noqa: E402

WAIT = s.WAIT
IDOK = 1
CMD_PAUSE, CMD_EXIT, CMD_LANG = 1002, 1004, 1005  # the tray menu's items


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    h.check(head[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is a PNG")
    return struct.unpack(">II", head[16:24])


def window(plat, cls, command=None):
    """window_rect.exe's fields for the first window of class cls (None when
    there is none); with command, also posts that WM_COMMAND to it."""
    argv = ["timeout", "-k", "5", "60", s.WINE, tool(plat, "window_rect.exe"), cls]
    if command is not None:
        argv.append(str(command))
    out = run(argv, timeout=90, env=plat.camera_env).stdout.decode(errors="replace").split()
    if not out or out[0] == "none":
        return None
    got = dict(kv.split("=", 1) for kv in out if "=" in kv)
    got["posted"] = "posted" in out
    return got


def shown(plat, cls):
    return wait_until(cls, lambda: (lambda w: w if w and w["visible"] == "1" else None)(
        window(plat, cls)), WAIT, 0.3)


def check_one_shots(plat, out_dir):
    # The output goes to a file: the first Wine program of a fresh wineserver
    # starts Wine's own services, which would keep pipes open after it exits.
    env = plat.camera_env
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)

    def one_shot(*args):
        with open(os.path.join(out_dir, "output.txt"), "w+b") as f:
            code = subprocess.run(plat.argv(*args, limit=120), stdout=f, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL, env=env, timeout=150).returncode
            f.seek(0)
            return code, f.read().decode(errors="replace")

    code, out = one_shot("--dump-welcome", plat.path(out_dir))
    h.check(code == 0, f"--dump-welcome exit {code}: {out[-400:]!r}")
    sizes = {}
    for lang in ("ar", "en"):
        path = os.path.join(out_dir, f"welcome_{lang}.png")
        h.check(os.path.exists(path), f"{path} written")
        sizes[lang] = png_size(path)
        h.check(sizes[lang][0] == 720 and 250 <= sizes[lang][1] <= 900,
                f"welcome_{lang}.png is 720 px wide, {sizes[lang]}")
    ar, en = (open(os.path.join(out_dir, f"welcome_{x}.png"), "rb").read() for x in ("ar", "en"))
    h.check(ar != en, "the Arabic and English pictures differ")
    print("welcome pictures:", sizes, out_dir, flush=True)

    report = os.path.join(out_dir, "strings.txt")
    code, out = one_shot("--selftest-strings", plat.path(report))
    text = open(report, encoding="utf-8").read() if os.path.exists(report) else ""
    h.check(code == 0 and "strings self-test passed" in text,
            f"--selftest-strings exit {code}, report {text[-300:]!r}, output {out[-300:]!r}")


def check_first_start(plat, cam):
    cam.start(wait_for=None)
    when_logged(cam, "UI: welcome window shown")
    got = shown(plat, "ZEBWelcomeWnd")
    h.check(int(got["right"]) - int(got["left"]) >= 720, f"welcome window {got}")
    h.check(window(plat, "ZEBWelcomeWnd", IDOK)["posted"], "start posted")
    when_logged(cam, "UI: end-user agreement shown")
    h.check(os.path.exists(os.path.join(cam.data_dir, "welcomed.flag")), "welcomed.flag written")
    got = shown(plat, "ZEBAgreementWnd")
    h.check(int(got["right"]) - int(got["left"]) >= 560, f"agreement window {got}")
    h.check(window(plat, "ZEBAgreementWnd", IDOK)["posted"], "accept posted")
    when_logged(cam, "UI: tray icon shown")
    with open(cam.cfg_path, encoding="utf-8") as f:
        h.check("eula_accepted = 1" in f.read(), "the accepted agreement is recorded")
    wait_until("rtsp port", lambda: s.port_answers(cam.port("rtsp")), WAIT)
    h.check(window(plat, "ZEBAdminMsg") is not None, "the tray's message window exists")


def check_tray_items(plat, cam):
    """Pause and the language switch through their menu commands, and the
    icon's return when the shell re-creates the taskbar."""
    h.check(window(plat, "ZEBAdminMsg", CMD_PAUSE)["posted"], "tray Pause posted")
    when_logged(cam, "UI: streaming paused from the desktop")
    with open(cam.cfg_path, encoding="utf-8") as f:
        h.check("stream_on = 0" in f.read(), "the pause is kept in the settings file")
    h.check(window(plat, "ZEBAdminMsg", CMD_LANG)["posted"], "tray language posted")
    when_logged(cam, "UI: language switched to ar from the tray")
    h.check(window(plat, "ZEBTrayWatch", "TaskbarCreated")["posted"], "TaskbarCreated posted")
    when_logged(cam, "UI: taskbar re-created - tray icon added again")


def check_tray_exit(plat, cam):
    h.check(window(plat, "ZEBAdminMsg", CMD_EXIT)["posted"], "tray Exit posted")
    when_logged(cam, "UI: exit from the tray menu")
    code = cam.proc.wait(WAIT)
    h.check(code == 0, f"exit code {code} after the tray's Exit")


def desktop(args):
    plat = s.Platform(args.exe, args.prefix)
    h.check(plat.wine, "this test drives the Windows build under Wine")
    s.wine_setup(plat)
    with step("--dump-welcome, --selftest-strings"):
        check_one_shots(plat, os.path.join(os.path.dirname(plat.exe), "desktop_test_out"))
    rtsp, onvif, web = h.free_ports(3)
    settings = {"rtsp_port": rtsp, "onvif_port": onvif, "web_port": web, "web_admin": 0,
                "announce_ip": "127.0.0.1", "discovery": 0, "stream": "traymain", "fps": 5,
                "main_width": 640, "substream": 0, "audio": 0, "warn_live": 0, "lang": "en"}
    cam = h.Camera(plat.exe, settings=settings, display=plat.display, data_root=plat.data_root,
                   env=plat.camera_extra, background=False, prefix=plat.argv()[:-1])
    with step("agreement, welcome, tray"):
        check_first_start(plat, cam)
    with step("tray items, taskbar re-created"):
        check_tray_items(plat, cam)
    with step("tray exit"):
        check_tray_exit(plat, cam)


def main():
    args = s.parse_args()
    s.run_test(lambda: desktop(args), args.prefix)


if __name__ == "__main__":
    main()
