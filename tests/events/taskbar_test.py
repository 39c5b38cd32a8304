"""The taskbar rectangle comes from the window manager's _NET_WORKAREA on the
root window: each reserved screen edge, the current desktop's entry, and no
window manager at all (unknown)."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
from camera import Xvfb, check, parse_args, run_main  # noqa: E402

args = parse_args(lambda ap: ap.add_argument("--probe", required=True))


def probe(x):
    return subprocess.run([args.probe], env=x.env(), capture_output=True, text=True,
                          timeout=30, check=True).stdout.strip()


def set_prop(x, name, values):
    subprocess.run(["xprop", "-display", x.display, "-root", "-f", name, "32c", "-set", name,
                    ",".join(str(v) for v in values)], check=True)


def test():
    with Xvfb(1280, 720) as x:
        # Xvfb resets (dropping root properties) when its last client leaves:
        # keep one connected for the whole test.
        keeper = subprocess.Popen(["xprop", "-display", x.display, "-root", "-spy"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            cases_on(x)
        finally:
            keeper.terminate()
            keeper.wait(5)


def cases_on(x):
    check(probe(x) == "none", "a bare X server has no taskbar")
    cases = [
        ([0, 0, 1280, 680], "0 680 1280 720"),    # bottom panel
        ([0, 32, 1280, 688], "0 0 1280 32"),      # top panel
        ([64, 0, 1216, 720], "0 0 64 720"),       # dock on the left
        ([0, 0, 1230, 720], "1230 0 1280 720"),   # dock on the right
        ([0, 0, 1280, 720], "none"),              # nothing reserved
    ]
    for area, want in cases:
        set_prop(x, "_NET_WORKAREA", area)
        got = probe(x)
        check(got == want, f"work area {area}: {got!r}, want {want!r}")
    # Two desktops: the current one's entry counts.
    set_prop(x, "_NET_WORKAREA", [0, 0, 1280, 720, 0, 0, 1280, 700])
    set_prop(x, "_NET_CURRENT_DESKTOP", [1])
    check(probe(x) == "0 700 1280 720", "current desktop's work area not used")


run_main(test)
