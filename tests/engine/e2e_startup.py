"""Start-up with no settings file (banner byte for byte on the default ports,
ports.status), the single instance, sign-in-screen and relaunch modes, the
command-line options, positional ports and the address over real adapters."""

import os
import subprocess
import tempfile
import time
from pathlib import Path

from camera import Camera, Xvfb, check, parse_args, private_netns, run_main

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
    private_netns()  # only loopback: the address choice falls back to 127.0.0.1
    root = tempfile.mkdtemp(prefix="zeb-start-")
    cfg, ports = Path(root, "Orvanta", "zeb.cfg"), Path(root, "Orvanta", "ports.status")
    env = dict(os.environ, ProgramData=root, ASAN_OPTIONS="detect_leaks=0")

    def cam(*argv, background=True, wait="  Auth      :"):
        c = Camera(args.bin, display=x.display, data_root=root, write_cfg=False, args=argv,
                   background=background)
        return c.start(wait_for=wait)

    def status():
        return ports.read_bytes().decode()

    def run(*argv):
        return subprocess.run([args.bin, *argv], env=env, capture_output=True, timeout=30)

    with Xvfb(1920, 1080) as x:
        engine = cam()
        check(BANNER in engine.output, "banner differs:\n" + engine.output)
        check(not cfg.exists(), "no seed, so no zeb.cfg")
        lines = status().split("\r\n")
        check(lines[:3] == ["rtsp=8554,8554,1", "onvif=8000,8000,1", "web=8080,8080,1"]
              and lines[3].startswith("wsd=") and lines[4:] == [""], f"ports.status: {lines}")

        # A second background start leaves quietly; an interactive one asks the
        # running engine to show its panel.
        second = cam(wait=None)
        check(second.wait_exit(20) == 0 and "===" not in second.output, "second start")
        check(cam(background=False, wait=None).wait_exit(20) == 0, "interactive second start")
        engine.wait_for("Panel: show-panel request received", 10)

        ok, bad = run("--check-pass", "tolvu"), run("--check-pass", "tolvU")
        check((ok.returncode, bad.returncode, ok.stdout + bad.stdout) == (0, 1, b""),
              "--check-pass with the factory password")
        for opt in (["--service"], ["--dump-welcome", root], ["--welcome"]):
            r = run(*opt)
            check(r.returncode == 2 and b"not in this build" in r.stdout, f"{opt}: {r}")
        check(engine.proc.poll() is None and engine.stop(15) == 0, "SIGTERM ends the engine")

        # Sign-in-screen engine: an interactive start finds no panel to show and
        # becomes panel-only after its 4 s of retries, binding nothing.
        logon = cam("--logon-screen", background=False,
                    wait="Logon-screen mode: streaming the sign-in screen (no UI)\n")
        ports_before = status().split("\r\n")[:3]
        t0 = time.time()
        panel = cam(background=False,
                    wait="Panel-only mode: the camera runs in another session on this PC\n")
        check(time.time() - t0 >= 3.5, "panel-only before the retries were over")
        panel.wait_for("  Auth      :")
        check("RTSP server ready" not in panel.output, "panel-only started a server")
        check(status().split("\r\n")[:3] == ports_before, "panel-only changed ports.status")
        check(panel.stop(15) == 0, "panel-only exit code 0")
        # A relaunch waits for its predecessor to end, then becomes the engine.
        relaunch = cam("--relaunch", wait=None)
        time.sleep(1.5)
        check("===" not in relaunch.output, "relaunch started before the old engine ended")
        check(logon.stop(15) == 0, "sign-in-screen engine exit code 0")
        relaunch.wait_for("  RTSP main : rtsp://127.0.0.1:8554/screenlive\n", 20)
        check(relaunch.stop(15) == 0, "relaunched engine exit code 0")

        # Positional ports apply when the file has none; an "enc:" password that
        # does not decode locks the login.
        cfg.write_text("announce_ip = 127.0.0.1\r\ndiscovery = 0\r\nweb_admin = 0\r\n"
                       "admin_pass = enc:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n")
        c = cam("554", "8081")
        for text in ("  net: announce_ip override -> 127.0.0.1\n  IP        : 127.0.0.1\n",
                     "  RTSP main : rtsp://127.0.0.1:554/screenlive\n",
                     "  ONVIF     : http://127.0.0.1:8081/onvif/device_service\n",
                     "WARNING: admin_pass tampered/undecryptable -> login locked; use HWID recovery.\n"):
            check(text in c.output, f"no {text!r}")
        check("Web Admin" not in c.output, "web panel off")
        check(status().startswith("rtsp=554,554,1\r\nonvif=8081,8081,1\r\nweb=0,0,0\r\n"),
              f"ports.status: {status()!r}")
        check(c.stop(15) == 0, "exit code 0")
        check(run("--check-pass", "tolvu").returncode == 1, "a tampered password matched")

        # Real adapters in this namespace: a veth counts as virtual, yet with
        # nothing else up its first address is picked; the gateway comes from
        # the routing table.
        for cmd in ("link add zv0 type veth peer name zv1", "addr add 10.77.0.2/24 dev zv0",
                    "addr add 192.168.50.2/24 dev zv0", "link set zv0 up", "link set zv1 up",
                    "route add default via 192.168.50.1 dev zv0"):
            subprocess.run(["ip", *cmd.split()], check=True)
        cfg.write_text("discovery = 0\r\n")
        c = cam()
        check("=== zeb-engine ONVIF screen camera ===\n"
              "  net: 10.77.0.2 (zv0) -> PICKED [gw][private]\n"
              "  net: 192.168.50.2 (zv0) -> skipped (vpn/virtual) [gw][private]\n"
              "  IP        : 10.77.0.2\n" in c.output, "address choice over the system's adapters")
        check(c.stop(15) == 0, "exit code 0")


run_main(main)
