"""The Windows camera service and its installer under Wine.

    service_test.py --exe build-win/zeb_onvif.exe [--prefix build-win/wineprefix]
                    [--setup build-win/vistrel-setup.exe]

Runs in a private network namespace with its own Xvfb and wineserver (the
smoke test's scaffolding, and its lock on the prefix). Under Wine,
WTSEnumerateSessionsW lists no session, so the service serves the console
(session 1) with the sign-in-screen camera: that is the camera checked here.
Wine's process for a Windows program is a Linux process whose
/proc/PID/cmdline holds the Windows command line, which is how the test reads
the camera's command line (only processes of this network namespace count).

Checks:
- --install-service returns 0, registers "<exe>" --service, and the service
  starts one camera with "--background --logon-screen --handover" whose RTSP
  port answers; a second --install-service returns 0 and leaves one camera;
- a killed camera is back (new process) within a pass; the time is printed;
- stopping the service ends the sign-in-screen camera;
- --uninstall-service returns 0 and the service is gone (0 again when absent);
- with --setup: the installer runs silently (/S), copies the program to
  Program Files\\Vistrel and installs the service, whose camera runs from
  there; run again over that install it replaces the camera; its uninstaller
  (/S) removes the service and the program files and keeps the settings."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import smoke_test as s  # noqa: E402
from smoke_test import h, port_answers, step, wait_until  # noqa: E402

WAIT = 120  # generous deadline for anything Wine starts on a loaded machine
CAMERA_OPTIONS = "--background --logon-screen --handover"
SERVICE_WORDS = {"--service", "--install-service", "--uninstall-service"}
LAST_SEEN = [None]  # the camera list last printed
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\Vistrel"


def wine(plat, *args, limit=180):
    """Runs a Windows program under Wine; the completed process, its output
    in .stdout. The output goes through a file, not a pipe: Wine's own
    processes that the first call starts (services.exe, and the service's
    cameras after it) would hold a pipe open for ever."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(["timeout", "-k", "5", str(limit), s.WINE, *args],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                              timeout=limit + 30, env=plat.camera_env)
        out.seek(0)
        done.stdout = out.read()
    return done


def our_netns():
    return os.readlink("/proc/self/ns/net")


def cameras(netns):
    """(Linux PID, Windows command line) of every zeb_onvif.exe Wine runs in
    this namespace, other than the service itself."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{pid}/ns/net") != netns:
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                line = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            continue
        # Wine's processes show a Windows path (not this script or the
        # wrappers that name the .exe); the service and the one-shot service
        # options are not cameras.
        if re.match(r"[A-Za-z]:\\", line) and "zeb_onvif.exe" in line.lower() \
                and not SERVICE_WORDS & set(line.split()):
            found.append((int(pid), line))
    return found


def service_command(plat):
    """The service's registered command line, or None when not installed."""
    out = wine(plat, "reg", "query", SERVICE_KEY, "/v", "ImagePath", limit=60)
    if out.returncode != 0:
        return None
    m = re.search(r"ImagePath\s+REG_\w+\s+(.*)", out.stdout.decode(errors="replace"))
    return m.group(1).strip() if m else ""


def remove_service(plat):
    """Removes a service left by an interrupted run: Wine starts automatic
    services when the prefix boots, so it would run a camera of its own (in
    this test or in the next Wine test of the prefix)."""
    if service_command(plat) is None:
        return
    wine(plat, "net", "stop", "Vistrel", limit=60)
    wine(plat, "sc", "delete", "Vistrel", limit=60)
    wait_until("the old service gone", lambda: service_command(plat) is None, 60, 1)


def one_camera(netns, exe_win):
    """The single camera with the sign-in-screen command line, or None."""
    cams = cameras(netns)
    if cams != LAST_SEEN[0]:
        print(f"cameras: {cams}", flush=True)
        LAST_SEEN[0] = cams
    if len(cams) != 1:
        return None
    pid, line = cams[0]
    return (pid, line) if line.lower().startswith(exe_win.lower()) else None


def check_camera_line(line, exe_win):
    want = f"{exe_win} {CAMERA_OPTIONS}"
    # Wine shows the command line as given, quotes and all, or with the
    # quotes taken off: either way the path and the options must be these.
    got = line.replace('"', "")
    h.check(got == want, f"camera command line {line!r}, not {want!r}")


def check_service_cycle(plat, netns, exe_unix, rtsp):
    exe_win = plat.path(exe_unix)
    with step("--install-service"):
        out = wine(plat, exe_unix, "--install-service")
        print(out.stdout.decode(errors="replace").strip(), flush=True)
        h.check(out.returncode == 0, f"--install-service exit {out.returncode}")
        cmd = service_command(plat)
        h.check(cmd == f'"{exe_win}" --service', f"service command line {cmd!r}")
    with step("the service's camera"):
        pid, line = wait_until("one sign-in-screen camera", lambda: one_camera(netns, exe_win))
        print(f"camera {pid}: {line}", flush=True)
        check_camera_line(line, exe_win)
        wait_until("the camera's RTSP port", lambda: port_answers(rtsp))
        # The camera on the sign-in screen streams like any other.
        probe = ["ffprobe", "-v", "error", "-rtsp_transport", "tcp", "-select_streams", "v:0",
                 "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                 f"rtsp://127.0.0.1:{rtsp}/svcmain"]
        got = subprocess.run(probe, capture_output=True, timeout=90).stdout.decode().strip()
        h.check(got == "h264", f"the service's camera streams: {got!r}")
    with step("--install-service again"):
        out = wine(plat, exe_unix, "--install-service")
        h.check(out.returncode == 0, f"second --install-service exit {out.returncode}")
        h.check("updated" in out.stdout.decode(errors="replace"), "the service was updated")
        h.check([c[0] for c in cameras(netns)] == [pid], f"still one camera: {cameras(netns)}")
    with step("killed camera comes back"):
        os.kill(pid, signal.SIGKILL)
        t0 = time.time()
        wait_until("the killed camera gone", lambda: all(c[0] != pid for c in cameras(netns)))
        new = wait_until("a new camera", lambda: one_camera(netns, exe_win), every=0.1)
        took = time.time() - t0
        print(f"camera back in {took:.1f} s (pid {new[0]})", flush=True)
        h.check(new[0] != pid, "a new process")
        check_camera_line(new[1], exe_win)
    with step("stopping the service ends its camera"):
        out = wine(plat, "net", "stop", "Vistrel")
        h.check(out.returncode == 0, f"net stop exit {out.returncode}: {out.stdout!r}")
        wait_until("no camera", lambda: not cameras(netns))
        wait_until("the RTSP port free", lambda: not port_answers(rtsp))
    with step("--uninstall-service"):
        out = wine(plat, exe_unix, "--uninstall-service")
        h.check(out.returncode == 0, f"--uninstall-service exit {out.returncode}")
        h.check(service_command(plat) is None, "the service is gone")
        out = wine(plat, exe_unix, "--uninstall-service")
        h.check(out.returncode == 0, f"--uninstall-service without a service: {out.returncode}")


def check_installer(plat, netns, setup, rtsp, cfg):
    program_dir = os.path.join(plat.prefix, "drive_c", "Program Files", "Vistrel")
    exe_win = r"C:\Program Files\Vistrel\zeb_onvif.exe"
    with step("installer /S"):
        out = wine(plat, setup, "/S", limit=300)
        h.check(out.returncode == 0, f"installer exit {out.returncode}")
        for name in ("zeb_onvif.exe", "openh264.dll", "README.txt", "uninstall.exe"):
            h.check(os.path.exists(os.path.join(program_dir, name)), f"{name} installed")
        h.check(os.path.exists(os.path.join(
            plat.prefix, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu",
            "Programs", "Vistrel", "Vistrel.lnk")), "Start-menu entry")
        cmd = service_command(plat)
        h.check(cmd == f'"{exe_win}" --service', f"service command line {cmd!r}")
        pid, line = wait_until("the installed camera", lambda: one_camera(netns, exe_win))
        check_camera_line(line, exe_win)
        wait_until("the camera's RTSP port", lambda: port_answers(rtsp))
    with step("installer /S over the running install"):
        # An update: the old service and its camera end, the files are
        # replaced, and the new service starts a new camera.
        out = wine(plat, setup, "/S", limit=300)
        h.check(out.returncode == 0, f"installer exit {out.returncode}")
        h.check(service_command(plat) == f'"{exe_win}" --service', "the service again")
        again = wait_until("the new camera", lambda: one_camera(netns, exe_win))
        h.check(again[0] != pid, "a new camera process")
    with step("uninstaller /S"):
        # The uninstaller goes on from a copy of itself in the temporary
        # folder (so it can remove itself): wait for its results.
        out = wine(plat, os.path.join(program_dir, "uninstall.exe"), "/S", limit=300)
        h.check(out.returncode == 0, f"uninstaller exit {out.returncode}")
        wait_until("the program files removed", lambda: not os.path.exists(program_dir))
        h.check(service_command(plat) is None, "the service is gone")
        h.check(not cameras(netns), f"no camera: {cameras(netns)}")
        h.check(os.path.exists(cfg), "the settings stay")
        h.check(not os.path.exists(os.path.join(plat.prefix, "drive_c", "ProgramData",
                                                "Microsoft", "Windows", "Start Menu",
                                                "Programs", "Vistrel")), "Start-menu entry gone")


def service_test(args, keep):
    plat = s.Platform(args.exe, args.prefix)
    keep.append(plat)
    h.check(plat.wine, "needs zeb_onvif.exe")
    s.wine_setup(plat)
    netns = our_netns()
    with step("service left by an earlier run"):
        remove_service(plat)
    rtsp, onvif, web = h.free_ports(3)
    settings = {"rtsp_port": rtsp, "onvif_port": onvif, "web_port": web, "web_admin": 0,
                "announce_ip": "127.0.0.1", "discovery": 0, "audio": 0, "lang": "en",
                "eula_accepted": 1, "fps": 5, "stream": "svcmain", "stream_auth": 0}
    # Wine's CreateEnvironmentBlock gives ProgramData as C:\users\Public
    # (Windows: C:\ProgramData), so the service's cameras look there.
    for root in (plat.data_root, os.path.join(plat.prefix, "drive_c", "users", "Public")):
        data_dir = os.path.join(root, "Orvanta")
        shutil.rmtree(data_dir, ignore_errors=True)
        os.makedirs(data_dir)
        cfg = os.path.join(data_dir, "zeb.cfg")
        with open(cfg, "w") as f:
            f.write("".join(f"{k} = {v}\n" for k, v in settings.items()))

    check_service_cycle(plat, netns, os.path.abspath(args.exe), rtsp)
    if args.setup:
        h.check(os.path.exists(args.setup), f"{args.setup} missing (scripts/build-windows.sh)")
        check_installer(plat, netns, os.path.abspath(args.setup), rtsp, cfg)


def main():
    def more(ap):
        ap.add_argument("--setup", help="vistrel-setup.exe, to check the installer too")

    args = s.parse_args(more=more)
    if args.setup is None:
        near = os.path.join(os.path.dirname(os.path.abspath(args.exe)), "vistrel-setup.exe")
        args.setup = near if os.path.exists(near) else None
    plat = []

    def remove_left_service():  # Wine would start it again when the prefix boots
        if plat and hasattr(plat[0], "camera_env"):
            remove_service(plat[0])

    s.run_test(lambda: service_test(args, plat), args.prefix, before_stop=remove_left_service,
               width=40)


if __name__ == "__main__":
    main()
