"""The desktop interface of an interactive start, under Xvfb and a D-Bus session,
driven through the accessibility tree with pyatspi: welcome window, agreement,
login, the panel's tabs in both languages, a live viewer, an invalid value with
the web panel's own error text, export accepted by --import-settings, and
Apply & restart that rewrites the settings file and relaunches the engine. A
second first start declines the agreement. Screenshots go to /work/shots-ui."""
import json
import os
import subprocess
import sys
import tempfile
import time


from a11y import start_a11y_bus
from camera import Camera, Xvfb, check, free_port, parse_args, run_main

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "web"))
from web_e2e_common import body, login, request  # noqa: E402

ARGS = parse_args()
SHOTS = os.environ.get("ZEB_UI_SHOTS", "/work/shots-ui")


pyatspi = None


def until(fn, what, timeout=60):
    """Polls fn (an accessibility query) until it gives a value; the only waits here."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            v = fn()
        except Exception:  # noqa: BLE001 - the tree changes under our feet
            v = None
        if v:
            return v
        time.sleep(0.3)
    raise TimeoutError(what)


def app_of(pid):
    desk = pyatspi.Registry.getDesktop(0)
    for i in range(desk.childCount):
        a = desk.getChildAtIndex(i)
        if a is not None and a.get_process_id() == pid:
            return a
    return None


def find(pid, name, role=None):
    a = app_of(pid)
    if a is None:
        return None
    return pyatspi.findDescendant(
        a, lambda x: x is not None and x.name == name and (role is None or x.getRole() == role))


def widget(pid, name, role=None, timeout=60):
    return until(lambda: find(pid, name, role), f"widget {name}", timeout)


def press(pid, name):
    widget(pid, name, pyatspi.ROLE_PUSH_BUTTON).queryAction().doAction(0)


def set_text(pid, name, text):
    widget(pid, name).queryEditableText().setTextContents(text)


def label_text(pid, name):
    return widget(pid, name, pyatspi.ROLE_LABEL).queryText().getText(0, -1)


def shot(display, name):
    os.makedirs(SHOTS, exist_ok=True)
    subprocess.run(["import", "-window", "root", os.path.join(SHOTS, name + ".png")],
                   env=dict(os.environ, DISPLAY=display), check=True, timeout=60)


def settle():
    """Lets the window paint before a screenshot: waits for the X server to answer."""
    time.sleep(0.5)


def camera(x, settings=None, root=None):
    env = {"GTK_MODULES": "gail:atk-bridge", "NO_AT_BRIDGE": "0"}
    return Camera(ARGS.bin, dict({"web_admin": 1, "osd_name": 0, "osd_clock": 0}, **(settings or {})),
                  display=x.display, background=False, env=env, data_root=root)


def cfg_value(cam, key):
    for line in open(cam.cfg_path, encoding="utf-8"):
        k, _, v = line.partition("=")
        if k.strip() == key:
            return v.strip()
    return None


def first_start_and_panel(x, cam):
    pid = cam.proc.pid
    widget(pid, "welcome_window")
    settle()
    shot(x.display, "welcome_window_en")
    press(pid, "welcome_ok")
    widget(pid, "agreement_window")
    check(os.path.exists(os.path.join(cam.data_dir, "welcomed.flag")), "welcomed.flag not written")
    settle()
    shot(x.display, "agreement_en")
    press(pid, "eula_accept")
    until(lambda: cfg_value(cam, "eula_accepted") == "1", "eula_accepted = 1")
    widget(pid, "login_window")
    set_text(pid, "password", "wrong")
    press(pid, "login")
    until(lambda: label_text(pid, "login_error"), "wrong-password text")
    settle()
    shot(x.display, "login_window")
    set_text(pid, "password", "tolvu")
    press(pid, "login")
    widget(pid, "control_panel")
    cam.wait_for("UI: control panel opened")


def tab_shots(x, pid, lang):
    tabs = widget(pid, "control_panel").queryComponent  # noqa: F841 - window present
    nb = until(lambda: pyatspi.findDescendant(app_of(pid), lambda a: a.getRole() == pyatspi.ROLE_PAGE_TAB_LIST),
               "tab list")
    for i, name in enumerate(["status", "video", "network", "users", "about"]):
        nb.querySelection().selectChild(i)
        settle()
        shot(x.display, f"panel_{lang}_{name}")
    nb.querySelection().selectChild(0)


def viewer_shows(cam, pid):
    url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive"
    ff = subprocess.Popen(["ffmpeg", "-loglevel", "error", "-rtsp_transport", "tcp", "-i", url,
                           "-c", "copy", "-t", "60", "-f", "null", "-"],
                          stdin=subprocess.DEVNULL)
    try:
        until(lambda: "127.0.0.1" in label_text(pid, "viewers"), "viewer in the panel", 90)
    finally:
        ff.terminate()
        ff.wait(20)


def invalid_value_same_as_web(cam, pid):
    set_text(pid, "fps", "99")
    press(pid, "apply")
    shown = until(lambda: label_text(pid, "error"), "error text")
    token = login(cam.port("web"))
    answer = json.loads(body(request(cam.port("web"), "POST", "/save", cookie=token, body=b"fps=99")))
    check(shown == answer["error"], f"panel error {shown!r} differs from /save {answer['error']!r}")
    check(cfg_value(cam, "fps") == "10", "an invalid value was written")


def export_then_import(cam, pid):
    out = os.path.join(cam.root, "exported.cfg")
    set_text(pid, "file_path", out)
    press(pid, "export")
    until(lambda: os.path.exists(out), "exported file")
    other = tempfile.mkdtemp(prefix="zeb-ui-import-")
    r = subprocess.run([ARGS.bin, "--import-settings", out], capture_output=True, timeout=60,
                       env=dict(os.environ, ProgramData=other, ASAN_OPTIONS="detect_leaks=0"))
    check(r.returncode == 0 and b"Import settings: " in r.stdout, f"--import-settings: {r}")


def relaunched_pid(root, old):
    """The engine that replaced ours: our binary with our own data directory."""
    for p in os.listdir("/proc"):
        if not p.isdigit() or int(p) == old:
            continue
        try:
            env = open(f"/proc/{p}/environ", "rb").read().split(b"\0")
            exe = os.readlink(f"/proc/{p}/exe")
        except OSError:
            continue
        if exe == os.path.realpath(ARGS.bin) and f"ProgramData={root}".encode() in env:
            return int(p)
    return None


def apply_and_restart(cam, pid):
    set_text(pid, "fps", "12")
    press(pid, "apply")
    cam.wait_for("UI: settings saved from the control panel")
    check(cam.wait_exit(30) == 0, "the old engine did not end with 0")
    check(cfg_value(cam, "fps") == "12", "fps not rewritten")
    new = until(lambda: relaunched_pid(cam.root, pid), "relaunched engine", 30)
    try:
        until(lambda: "@ 12 fps" in cam.output, "relaunched banner", 60)
        # The relaunched engine is a desktop program again. Its login is
        # cancelled; a second start's show-panel request brings it back.
        widget(new, "login_window")
        press(new, "login_cancel")
        until(lambda: find(new, "login_window") is None, "login window closed")
        second = Camera(ARGS.bin, display=cam.display, background=False, data_root=cam.root,
                        write_cfg=False, env={"GTK_MODULES": "gail:atk-bridge"})
        second.start(wait_for=None)
        check(second.wait_exit(30) == 0, "second start did not hand over to the engine")
        until(lambda: "Panel: show-panel request received" in cam.output, "show-panel request")
        widget(new, "login_window")
    finally:
        os.kill(new, 15)
    # SIGTERM ends the desktop loop cleanly, even with the login window up.
    until(lambda: "UI: stop signal - exiting" in cam.output, "clean stop")


def declined(x):
    root = tempfile.mkdtemp(prefix="zeb-ui-decline-")
    os.makedirs(os.path.join(root, "Orvanta"))
    open(os.path.join(root, "Orvanta", "welcomed.flag"), "w").write("1")
    cam = camera(x, {"lang": "ar"}, root=root)
    cam.start(wait_for="  Auth      :")
    try:
        widget(cam.proc.pid, "agreement_window")
        settle()
        shot(x.display, "agreement_ar")
        press(cam.proc.pid, "eula_decline")
        check(cam.wait_exit(30) == 0, "declining must exit 0")
        check("EULA declined \u2014 exiting.\n" in cam.output, "decline line missing")
        check(cfg_value(cam, "eula_accepted") is None, "declined agreement recorded")
    finally:
        cam.stop()


def main():
    with Xvfb(1280, 800) as x:
        bus = start_a11y_bus(x.display)
        global pyatspi
        import pyatspi as module  # only once the bus answers
        pyatspi = module
        os.environ["DISPLAY"] = x.display
        try:
            declined(x)
            cam = camera(x, {"lang": "en", "fps": 10, "web_port": free_port()})
            cam.start(wait_for="UI: welcome window shown")
            try:
                pid = cam.proc.pid
                first_start_and_panel(x, cam)
                tab_shots(x, pid, "en")
                press(pid, "lang")
                until(lambda: find(pid, "تطبيق وإعادة التشغيل") or label_text(pid, "address").startswith("العنوان"),
                      "Arabic panel")
                tab_shots(x, pid, "ar")
                viewer_shows(cam, pid)
                settle()
                shot(x.display, "panel_ar_viewer")
                invalid_value_same_as_web(cam, pid)
                export_then_import(cam, pid)
                apply_and_restart(cam, pid)
            finally:
                cam.stop()
        finally:
            bus.terminate()
            bus.wait(10)


run_main(main)
