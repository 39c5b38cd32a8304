"""The Win32 control panel and its login window under Wine, driven from Linux.

    panel_test.py --exe build-win/zeb_onvif.exe [--prefix build-win/wineprefix]

Same set-up as signals_test.py (smoke_test.py's pieces): a network namespace of
its own, an Xvfb screen, a wineserver for the prefix started in that
namespace, the program with its own data directory. A second interactive start
posts the show-panel request; panel_driver.exe then finds the login window and
the panel by class and drives their controls by id with window messages:

- a wrong password is refused in the login window and opens no panel; the
  right one opens "ZEBAdminWnd", 760x660, centred, with caption, system menu
  and minimise box, showing the file's fps;
- fps 0 is refused by the settings check, the error shown in the panel and
  the file left alone;
- a new fps typed, then the language switch: the panel comes back mirrored
  (Arabic) with the typed fps kept;
- Apply & restart: the settings file gets it, the first process
  ends for the relaunched one (code 0) and the new engine starts with the new
  fps (its banner, on the same output);
- a panel-only start (the mutex held by hold_mutex.exe, as by a camera in
  another session) shows the login window at once; Cancel ends it with 0."""

import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import smoke_test as s  # noqa: E402
from smoke_test import h, run, step, wait_until  # noqa: E402

WAIT = s.WAIT
PASSWORD = "Panel-pass-7"
NEW_FPS = 7


def file_value(cam, key):
    with open(cam.cfg_path, encoding="utf-8", errors="replace") as f:
        m = re.search(rf"^{key}\s*=\s*(.*?)\s*$", f.read(), re.M)
    return m.group(1) if m else None


def check_panel(plat, cam):
    out = run(plat.argv(limit=90), timeout=120, env=plat.camera_env)
    h.check(out.returncode == 0, f"second start exit {out.returncode}")
    cam.wait_for(re.compile(r"Panel: show-panel request received\r?\n"), WAIT)
    driver = os.path.join(os.path.dirname(plat.exe), "panel_driver.exe")
    out = run(["timeout", "-k", "5", "200", s.WINE, driver, "not-it", PASSWORD, str(NEW_FPS)],
              timeout=230, env=plat.camera_env)
    text = out.stdout.decode("utf-8", "replace")
    print(text, flush=True)
    h.check(out.returncode == 0, f"panel_driver exit {out.returncode}")
    h.check("UI: wrong password in the login window" in cam.output, "wrong password logged")
    h.check(re.search(r"^wrong password: \S", text, re.M), "the login window says it")
    m = re.search(r"^panel (\d+)x(\d+) at (-?\d+),(-?\d+) screen (\d+)x(\d+) "
                  r"caption=1 sysmenu=1 minimize=1", text, re.M)
    h.check(m, "panel window with caption, system menu and minimise box")
    w, hgt, x, y, sw, sh = map(int, m.groups())
    h.check((w, hgt) == (760, 660), f"panel size {w}x{hgt}")
    h.check(abs(x - (sw - w) // 2) <= 1 and abs(y - (sh - hgt) // 2) <= 1,
            f"panel centred: {x},{y} on {sw}x{sh}")
    h.check("fps shown: 5" in text, "the panel shows the file's fps")
    h.check(re.search(r"^refused: .*fps", text, re.M), "fps 0 refused with the field named")
    h.check("UI: settings not saved:" in cam.output, "refusal logged")
    h.check(f"switched: rtl=1 fps={NEW_FPS}" in text,
            "the language switch mirrors the panel and keeps the typed fps")
    h.check("applied" in text, "Apply & restart pressed")


def check_restart(cam):
    wait_until("the new fps in the settings file",
               lambda: file_value(cam, "fps") == str(NEW_FPS), WAIT)
    # The line follows the file: it may still be on its way.
    cam.wait_for(re.compile(r"UI: settings saved from the control panel \(\d+ keys\) - restarting"),
                 WAIT)
    # The rest of the file is kept: ports, stream name, the password.
    for key in ("rtsp_port", "onvif_port", "stream", "admin_pass", "announce_ip"):
        h.check(file_value(cam, key) == str(cam.settings[key]),
                f"{key} kept: {file_value(cam, key)!r}")
    # The first process ends; the relaunched engine writes to the same output.
    h.check(cam.wait_exit(WAIT) == 0, "the first engine ended with code 0")
    wait_until("the relaunched engine's banner",
               lambda: re.search(rf"Video     : .*@ {NEW_FPS} fps", cam.output), WAIT, 0.5)
    print("relaunched with fps", NEW_FPS, flush=True)


def end_relaunched(plat):
    """The relaunched engine left the process tree: end it as its message
    window's WM_CLOSE does."""
    out = run(["timeout", "-k", "5", "120", s.WINE,
               os.path.join(os.path.dirname(plat.exe), "panel_driver.exe"), "quit"],
              timeout=150, env=plat.camera_env)
    h.check(out.returncode == 0, f"panel_driver quit: {out.stdout!r}")


def check_panel_only_cancel(plat, settings, display, extra):
    holder = s.Child(["timeout", "-k", "5", "300", s.WINE,
                      os.path.join(os.path.dirname(plat.exe), "hold_mutex.exe")],
                     env=plat.camera_env, stdout=subprocess.PIPE)
    try:
        h.check(holder.proc.stdout.readline().strip() == b"held", "hold_mutex.exe holds it")
        cam = h.Camera(plat.exe, settings=settings, display=display, data_root=plat.data_root,
                       write_cfg=False, background=False, env=extra, prefix=plat.argv()[:-1])
        cam.start(wait_for="Panel-only mode: the camera runs in another session", timeout=WAIT)
        out = run(["timeout", "-k", "5", "120", s.WINE,
                   os.path.join(os.path.dirname(plat.exe), "panel_driver.exe"), "cancel"],
                  timeout=150, env=plat.camera_env)
        h.check(out.returncode == 0, f"panel_driver cancel: {out.stdout!r}")
        h.check(cam.wait_exit(WAIT) == 0, "the panel-only start ended with 0")
        h.check("UI: login cancelled - the panel-only start ends" in cam.output, "logged")
    finally:
        holder.__exit__()


def panel(args):
    plat = s.Platform(args.exe, args.prefix)
    h.check(plat.wine, "the panel test is for the Windows build")
    s.wine_setup(plat, welcomed=True)
    rtsp, onvif, web = h.free_ports(3)
    settings = {
        "rtsp_port": rtsp, "onvif_port": onvif, "web_port": web, "web_admin": 0,
        "announce_ip": "127.0.0.1", "discovery": 0, "stream": "winmain", "fps": 5,
        "main_width": 640, "substream": 0, "audio": 0, "warn_live": 0, "lang": "en",
        "admin_pass": PASSWORD, "eula_accepted": 1}
    with step("first start"):
        cam = h.Camera(plat.exe, settings=settings, display=plat.display,
                       data_root=plat.data_root, env=plat.camera_extra, background=False,
                       prefix=plat.argv()[:-1])
        cam.start(timeout=WAIT)
    with step("login and panel"):
        check_panel(plat, cam)
    with step("apply and restart"):
        check_restart(cam)
        end_relaunched(plat)
    cam.stop()
    with step("panel-only start, login cancelled"):
        check_panel_only_cancel(plat, settings, plat.display, plat.camera_extra)


def main():
    args = s.parse_args()
    s.run_test(lambda: panel(args), args.prefix)


if __name__ == "__main__":
    main()
