"""The one-shot renderings (--dump-welcome, --selftest-strings), and the tray icon of an interactive start under a D-Bus session with a
StatusNotifier watcher: the icon registers, its menu (read and clicked over
D-Bus as a tray host does) pauses streaming and exits the program while the
login window is up. Without a watcher the panel stays reachable and the log says
why. A stop signal ends a start that waits at its welcome window."""
import os
import struct
import subprocess
import tempfile
import time

from gi.repository import Gio, GLib

from camera import Camera, Xvfb, check, parse_args, run_main

ARGS = parse_args()
HERE = os.path.dirname(os.path.abspath(__file__))


def desktop_camera(x, welcomed=True):
    cam = Camera(ARGS.bin, {"eula_accepted": 1, "lang": "en", "osd_name": 0, "osd_clock": 0},
                 display=x.display, background=False)
    if welcomed:
        open(os.path.join(cam.data_dir, "welcomed.flag"), "w").write("1")
    return cam


def wait_line(proc, prefix, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        line = proc.stdout.readline()
        if line.startswith(prefix):
            return line.split()
    raise TimeoutError(prefix)


def menu_items(bus, sender, menu_path):
    layout = bus.call_sync(sender, menu_path, "com.canonical.dbusmenu", "GetLayout",
                           GLib.Variant("(iias)", (0, -1, [])), None, 0, 20000, None).unpack()
    return {child[1].get("label", ""): child[0] for child in layout[1][2]}


def click(bus, sender, menu_path, item):
    bus.call_sync(sender, menu_path, "com.canonical.dbusmenu", "Event",
                  GLib.Variant("(isvu)", (item, "clicked", GLib.Variant("i", 0), 0)),
                  None, 0, 20000, None)


def one_shot_modes():
    out = tempfile.mkdtemp(prefix="zeb-ui-dump-")
    env = dict(os.environ, ProgramData=out, ASAN_OPTIONS="detect_leaks=0")
    env.pop("DISPLAY", None)  # renderings need no screen
    r = subprocess.run([ARGS.bin, "--dump-welcome", os.path.join(out, "w")], env=env, timeout=120)
    check(r.returncode == 0, "--dump-welcome failed")
    for name in ("welcome_ar.png", "welcome_en.png"):
        head = open(os.path.join(out, "w", name), "rb").read(24)
        width, height = struct.unpack(">II", head[16:24])
        check(head[:8] == b"\x89PNG\r\n\x1a\n" and width == 720 and height > 200, f"{name}: {width}x{height}")
    report = os.path.join(out, "strings.txt")
    r = subprocess.run([ARGS.bin, "--selftest-strings", report], env=env, timeout=60)
    check(r.returncode == 0 and "passed" in open(report).read(), "--selftest-strings")


def start_watcher():
    watcher = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "sni_watcher.py")],
                               stdout=subprocess.PIPE, text=True)
    wait_line(watcher, "OWNED")
    return watcher


def main():
    one_shot_modes()
    with Xvfb(1024, 768) as x:
        # No tray: said in the log, the panel (its login first) opens anyway.
        with desktop_camera(x) as cam:
            cam.wait_for("UI: no tray on this desktop", 60)
            cam.wait_for("RTSP server ready", 60)

        # A stop signal while the welcome window waits ends the program with 0.
        cam = desktop_camera(x, welcomed=False)
        cam.start(wait_for="UI: welcome window shown")
        check(cam.stop(30) == 0, "stop during the welcome window")

        watcher = start_watcher()
        try:
            cam = desktop_camera(x)
            with cam:
                cam.wait_for("UI: tray icon shown (StatusNotifierItem)", 60)
                _, sender, path = wait_line(watcher, "ITEM")
                bus = Gio.bus_get_sync(Gio.BusType.SESSION)
                menu = bus.call_sync(sender, path, "org.freedesktop.DBus.Properties", "Get",
                                     GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")),
                                     None, 0, 20000, None).unpack()[0]
                items = menu_items(bus, sender, menu)
                check(set(items) >= {"Open the control panel", "Pause streaming",
                                     "Copy the RTSP link", "Exit"}, f"menu: {items}")
                cam.wait_for("RTSP server ready", 60)
                click(bus, sender, menu, items["Pause streaming"])
                cam.wait_for("UI: streaming paused from the desktop", 30)
                check("stream_on = 0" in open(cam.cfg_path).read(), "stream_on not written")
                # The desktop's tray restarts: the icon comes back by itself.
                watcher.terminate()
                watcher.wait(10)
                watcher = start_watcher()
                _, sender, path = wait_line(watcher, "ITEM")
                # Exit works with the login window open (a modal loop of its own).
                click(bus, sender, menu, items["Exit"])
                cam.wait_for("UI: exit from the tray menu", 30)
                check(cam.wait_exit(30) == 0, "exit from the tray")
        finally:
            watcher.terminate()
            watcher.wait(10)


run_main(main)
