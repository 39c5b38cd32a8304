"""Port fallback: RTSP asks for 554 while a process of this test listens there,
and ONVIF and the web panel share 8000. Each busy requested port is tried 125
times 120 ms apart before its server moves; ports.status, the duplicate-port
warning and the port warnings (naming the holder) tell the user."""

import subprocess
import sys
import time

from camera import Camera, check, parse_args, private_netns, run_main

HOLDER = ("import socket,time\n"
          "s=socket.socket(); s.bind(('0.0.0.0',554)); s.listen(1)\n"
          "print('holding', flush=True); time.sleep(600)\n")


def main():
    args = parse_args()
    private_netns()
    holder = subprocess.Popen([sys.executable, "-c", HOLDER], stdout=subprocess.PIPE)
    try:
        check(holder.stdout.readline().strip() == b"holding", "holder listens on 554")
        t0 = time.time()
        cam = Camera(args.bin, {"rtsp_port": 554, "onvif_port": 8000, "web_port": 8000})
        cam.start(timeout=90)
        elapsed = time.time() - t0
        # Two requested ports busy: 2 x 124 waits of 120 ms = 29.8 s at least.
        check(29.5 <= elapsed < 60, f"banner after {elapsed:.1f} s, expected about 30 s")
        for text in (
                "CONFIG: \u26A0 Duplicate ports in the config file: ONVIF and Web panel both set"
                " to 8000 - one of them was moved automatically to a free port\n",
                "\u26A0 The standard streaming port 554 is used by another program (python3),"
                " so the stream is on 8554 for now.\n"
                "   Some NVRs and mobile apps only look for 554 and will not find the camera"
                " automatically.\n"
                "   Fix: add it manually as rtsp://<IP>:8554/ , or free port 554.\n",
                "\u26A0 Port 8000 (Web panel) is used by another program (zeb_onvif), so the"
                " service runs on 18000 for now.",
                "  RTSP main : rtsp://127.0.0.1:8554/screenlive\n",
                "  Web Admin : http://127.0.0.1:18000/\n"):
            check(text in cam.output, f"no {text!r}")
        with open(cam.data_dir + "/ports.status", newline="") as f:
            status = f.read()
        check(status.startswith("rtsp=554,8554,1\r\nonvif=8000,8000,1\r\nweb=8000,18000,1\r\n"),
              f"ports.status: {status!r}")
        check(cam.stop(15) == 0, "exit code 0")
    finally:
        holder.kill()
        holder.wait()


run_main(main)
