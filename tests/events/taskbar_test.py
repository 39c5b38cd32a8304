"""The taskbar rectangle comes from the window manager's _NET_WORKAREA on the
root window: each reserved screen edge, the current desktop's entry, and no
window manager at all (unknown)."""

import subprocess

from camera import Xvfb, check, parse_args, run_main

args = parse_args(lambda ap: ap.add_argument("--probe", required=True))


def test():
    with Xvfb(1280, 720) as x:
        def probe(**props):
            for name, values in props.items():
                subprocess.run(["xprop", "-display", x.display, "-root", "-f", name, "32c",
                                "-set", name, ",".join(map(str, values))], check=True)
            return subprocess.run([args.probe], env=x.env(), capture_output=True, text=True,
                                  timeout=30, check=True).stdout.strip()

        # Xvfb resets (dropping root properties) when its last client leaves:
        # keep one connected for the whole test.
        keeper = subprocess.Popen(["xprop", "-display", x.display, "-root", "-spy"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            check(probe() == "none", "a bare X server has no taskbar")
            for area, want in [([0, 0, 1280, 680], "0 680 1280 720"),   # bottom panel
                               ([0, 32, 1280, 688], "0 0 1280 32"),     # top panel
                               ([64, 0, 1216, 720], "0 0 64 720"),      # dock on the left
                               ([0, 0, 1230, 720], "1230 0 1280 720"),  # dock on the right
                               ([0, 0, 1280, 720], "none")]:            # nothing reserved
                got = probe(_NET_WORKAREA=area)
                check(got == want, f"work area {area}: {got!r}, want {want!r}")
            got = probe(_NET_WORKAREA=[0, 0, 1280, 720, 0, 0, 1280, 700], _NET_CURRENT_DESKTOP=[1])
            check(got == "0 700 1280 720", f"current desktop's work area not used: {got!r}")
        finally:
            keeper.terminate()
            keeper.wait(5)


run_main(test)
