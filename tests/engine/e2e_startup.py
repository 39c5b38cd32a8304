"""Start-up with no settings file: the banner byte for byte on the default
ports, ports.status, the single instance (second starts), --check-pass and
the positional port defaults."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engine_e2e as E  # noqa: E402
from camera import Xvfb, check, parse_args, run_main  # noqa: E402

BANNER = (
    "=== zeb-engine ONVIF screen camera ===\n"
    "  net: no usable adapters - falling back to 127.0.0.1\n"
    "  IP        : 127.0.0.1\n"
    "  ONVIF     : http://127.0.0.1:8000/onvif/device_service\n"
    "  RTSP main : rtsp://127.0.0.1:8554/screenlive\n"
    "  RTSP sub  : rtsp://127.0.0.1:8554/screensub  (640x360)\n"
    "  Web Admin : http://127.0.0.1:8080/\n"
    "  Video     : 1920x1080 @ 10 fps, ~2000 kbps (full screen)\n"
    "  Auth      : OFF (open) (user=admin)\n")


def main():
    args = parse_args()
    E.enter_private_netns()  # only loopback: the address choice falls back to 127.0.0.1
    root = tempfile.mkdtemp(prefix="zeb-start-")
    data = os.path.join(root, "Orvanta")
    with Xvfb(1920, 1080) as x:
        cam = E.Run([args.bin, "--background"], root, x.display)
        cam.wait_for("  Auth      :")
        start = cam.output.index("=== zeb-engine")
        check(cam.output[start:start + len(BANNER)] == BANNER,
              "banner differs:\n" + cam.output[start:start + len(BANNER) + 80])
        check(not os.path.exists(os.path.join(data, "zeb.cfg")), "no seed, so no zeb.cfg")
        status = E.read(os.path.join(data, "ports.status")).decode()
        lines = status.split("\r\n")
        check(lines[:3] == ["rtsp=8554,8554,1", "onvif=8000,8000,1", "web=8080,8080,1"]
              and lines[3].startswith("wsd=") and lines[4:] == [""],
              f"ports.status: {status!r}")

        # A second background start finds the engine and leaves quietly.
        second = E.Run([args.bin, "--background"], root, x.display)
        check(second.finish(20) == 0, "second --background start exits 0")
        check("===" not in second.output, "second start printed a banner")
        # An interactive second start asks the running one to show its panel.
        third = E.Run([args.bin], root, x.display)
        check(third.finish(20) == 0, "interactive second start exits 0")
        cam.wait_for("Panel: show-panel request received", 10)

        env = dict(os.environ, ProgramData=root, ASAN_OPTIONS="detect_leaks=0")
        ok = subprocess.run([args.bin, "--check-pass", "tolvu"], env=env, capture_output=True)
        bad = subprocess.run([args.bin, "--check-pass", "tolvU"], env=env, capture_output=True)
        check(ok.returncode == 0 and bad.returncode == 1, "--check-pass with the factory password")
        check(ok.stdout == b"" and bad.stdout == b"", "--check-pass prints nothing")
        for opt in (["--service"], ["--dump-welcome", root], ["--welcome"]):
            r = subprocess.run([args.bin] + opt, env=env, capture_output=True, timeout=30)
            check(r.returncode == 2 and b"not in this build" in r.stdout,
                  f"{opt[0]}: {r.returncode} {r.stdout!r}")
        check(cam.alive(), "engine still running")
        check(cam.stop() == 0, "SIGTERM ends the engine with exit code 0")

        # Sign-in-screen engine: no panel to show, so an interactive start
        # becomes panel-only after its retries and binds nothing.
        logon = E.Run([args.bin, "--logon-screen"], root, x.display)
        logon.wait_for("Logon-screen mode: streaming the sign-in screen (no UI)\n")
        status_before = E.read(os.path.join(data, "ports.status")).split(b"\r\n")[:3]
        panel = E.Run([args.bin], root, x.display)
        took = panel.wait_for("Panel-only mode: the camera runs in another session on this PC\n", 30)
        check(took >= 3.5, f"panel-only after {took:.1f} s, expected the 4 s of retries")
        panel.wait_for("  Auth      :")
        check("RTSP server ready" not in panel.output, "panel-only started a server")
        check(E.read(os.path.join(data, "ports.status")).split(b"\r\n")[:3] == status_before,
              "panel-only changed the server ports in ports.status")
        check(panel.stop() == 0, "panel-only exit code 0")
        # A relaunch waits for its predecessor to end, then becomes the engine.
        relaunch = E.Run([args.bin, "--relaunch", "--background"], root, x.display)
        time.sleep(1.5)
        check("===" not in relaunch.output, "relaunch started before the old engine ended")
        check(logon.stop() == 0, "sign-in-screen engine exit code 0")
        relaunch.wait_for("  Auth      :", 20)
        check("  RTSP main : rtsp://127.0.0.1:8554/screenlive\n" in relaunch.output,
              "relaunched engine got the port back")
        check(relaunch.stop() == 0, "relaunched engine exit code 0")

        # Positional defaults apply when the file has no port keys; an "enc:"
        # password that does not decode locks the login.
        E.write(os.path.join(data, "zeb.cfg"),
                "announce_ip = 127.0.0.1\r\ndiscovery = 0\r\nweb_admin = 0\r\n"
                "admin_pass = enc:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n")
        cam = E.Run([args.bin, "554", "8081", "--background"], root, x.display)
        cam.wait_for("  Auth      :")
        check("  net: announce_ip override -> 127.0.0.1\n  IP        : 127.0.0.1\n" in cam.output,
              "override line precedes the address")
        check("  RTSP main : rtsp://127.0.0.1:554/screenlive\n" in cam.output, "RTSP on 554")
        check("  ONVIF     : http://127.0.0.1:8081/onvif/device_service\n" in cam.output,
              "ONVIF on 8081")
        check("Web Admin" not in cam.output, "web panel off")
        status = E.read(os.path.join(data, "ports.status")).decode()
        check(status.startswith("rtsp=554,554,1\r\nonvif=8081,8081,1\r\nweb=0,0,0\r\n"),
              f"ports.status: {status!r}")
        check("WARNING: admin_pass tampered/undecryptable -> login locked; use HWID recovery.\n"
              in cam.output, "tampered password reported")
        check(cam.stop() == 0, "exit code 0")
        r = subprocess.run([args.bin, "--check-pass", "tolvu"], env=env, capture_output=True)
        check(r.returncode == 1, "a tampered password matches nothing")

        # The system's adapters (inside this private namespace): a veth pair is
        # a software adapter, so it counts as virtual, yet with nothing else up
        # its first address is picked; the gateway comes from the routing table.
        ip = ["ip", "link", "add", "zv0", "type", "veth", "peer", "name", "zv1"]
        subprocess.run(ip, check=True)
        for cmd in (["ip", "addr", "add", "10.77.0.2/24", "dev", "zv0"],
                    ["ip", "addr", "add", "192.168.50.2/24", "dev", "zv0"],
                    ["ip", "link", "set", "zv0", "up"], ["ip", "link", "set", "zv1", "up"],
                    ["ip", "route", "add", "default", "via", "192.168.50.1", "dev", "zv0"]):
            subprocess.run(cmd, check=True)
        E.write(os.path.join(data, "zeb.cfg"), "discovery = 0\r\n")
        cam = E.Run([args.bin, "--background"], root, x.display)
        cam.wait_for("  Auth      :")
        check("=== zeb-engine ONVIF screen camera ===\n"
              "  net: 10.77.0.2 (zv0) -> PICKED [gw][private]\n"
              "  net: 192.168.50.2 (zv0) -> skipped (vpn/virtual) [gw][private]\n"
              "  IP        : 10.77.0.2\n" in cam.output, "address choice over the system's adapters")
        check(cam.stop() == 0, "exit code 0")


run_main(main)
