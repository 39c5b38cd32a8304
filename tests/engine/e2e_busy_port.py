"""Port fallback with a port held by another process: RTSP asks for 554 while
a process of this test listens there, and ONVIF and the web panel share 8000.
The requested ports are tried 125 times 120 ms apart (about 15 s each), then
the servers move; ports.status, the duplicate-port warning and the port
warnings (naming the holder) tell the user."""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engine_e2e as E  # noqa: E402
from camera import check, parse_args, run_main  # noqa: E402

HOLDER = ("import socket,sys,time\n"
          "s=socket.socket(); s.bind(('0.0.0.0',554)); s.listen(1)\n"
          "print('holding', flush=True); time.sleep(600)\n")


def main():
    args = parse_args()
    E.enter_private_netns()
    root = tempfile.mkdtemp(prefix="zeb-busy-")
    data = os.path.join(root, "Orvanta")
    os.makedirs(data)
    E.write(os.path.join(data, "zeb.cfg"),
            "announce_ip = 127.0.0.1\r\ndiscovery = 0\r\n"
            "rtsp_port = 554\r\nonvif_port = 8000\r\nweb_port = 8000\r\n")
    holder = subprocess.Popen([sys.executable, "-c", HOLDER], stdout=subprocess.PIPE)
    try:
        check(holder.stdout.readline().strip() == b"holding", "holder listens on 554")
        t0 = time.time()
        cam = E.Run([args.bin, "--background"], root)
        cam.wait_for("  Auth      :", 90)
        elapsed = time.time() - t0
        # Two requested ports busy: 2 x 124 waits of 120 ms = 29.8 s at least.
        check(29.5 <= elapsed < 60, f"banner after {elapsed:.1f} s, expected about 30 s")
        out = cam.output
        dup = ("CONFIG: \u26A0 Duplicate ports in the config file: ONVIF and Web panel both set to 8000"
               " - one of them was moved automatically to a free port\n")
        check(dup in out, "duplicate-port warning")
        rtsp_warn = (
            "\u26A0 The standard streaming port 554 is used by another program (python3),"
            " so the stream is on 8554 for now.\n"
            "   Some NVRs and mobile apps only look for 554 and will not find the camera automatically.\n"
            "   Fix: add it manually as rtsp://<IP>:8554/ , or free port 554.\n")
        check(rtsp_warn in out, "RTSP warning naming the holder and the 8554 address")
        check("\u26A0 Port 8000 (Web panel) is used by another program (zeb_onvif), so the service runs"
              " on 18000 for now." in out, "web panel moved to 18000")
        check("  RTSP main : rtsp://127.0.0.1:8554/screenlive\n" in out, "banner shows the bound port")
        check("  Web Admin : http://127.0.0.1:18000/\n" in out, "banner shows the web port")
        status = E.read(os.path.join(data, "ports.status")).decode()
        check(status.startswith("rtsp=554,8554,1\r\nonvif=8000,8000,1\r\nweb=8000,18000,1\r\n"),
              f"ports.status: {status!r}")
        check(cam.stop() == 0, "exit code 0")
    finally:
        holder.kill()
        holder.wait()


run_main(main)
