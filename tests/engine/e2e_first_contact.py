"""A newcomer's first contact: --help and --version print and start nothing;
without a screen (DISPLAY unset or unreachable) the camera says how to get one,
shows "no screen" in its banner, and ONVIF still answers; settings that cannot
be read (a NUL in stream_auth, a FIFO, a symbolic link) keep authentication
on and say so."""

import os
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request
from pathlib import Path

from camera import Camera, check, parse_args, private_netns, run_main

SOAP = ('<?xml version="1.0" encoding="UTF-8"?>'
        '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>'
        '<GetDeviceInformation xmlns="http://www.onvif.org/ver10/device/wsdl"/>'
        '</s:Body></s:Envelope>')
UNKNOWN = "Unknown option --frobnicate is ignored (zeb_onvif --help lists the options)\n"
FIX = " - set DISPLAY, or run scripts/run-camera.sh, which starts a virtual screen\n"


def onvif_post(port, body):
    req = urllib.request.Request(f"http://127.0.0.1:{port}/onvif/device_service",
                                 data=body.encode(),
                                 headers={"Content-Type": "application/soap+xml"})
    with urllib.request.urlopen(req, timeout=20) as r:
        return r.status, r.read().decode()


def one_shot_options(binary):
    root = tempfile.mkdtemp(prefix="zeb-help-")
    env = dict(os.environ, ProgramData=root, ASAN_OPTIONS="detect_leaks=0")
    env.pop("DISPLAY", None)
    for argv, text in ((["--help"], "  --check-pass PASSWORD "), (["-h", "554"], "Usage: zeb_onvif"),
                       (["--version"], "zeb_onvif (Vistrel screen camera) 2.0.5\n")):
        r = subprocess.run([binary, *argv], env=env, capture_output=True, timeout=30)
        out = r.stdout.decode()
        check(r.returncode == 0 and text in out, f"{argv}: exit {r.returncode}, {out!r}")
        # Nothing started: no data directory, so no settings, lock or ports.status.
        check(not Path(root, "Orvanta").exists(), f"{argv} created the data directory")


def no_screen(binary, display, reason):
    cam = Camera(binary, display=display, args=["--frobnicate"],
                 env={"DISPLAY": display} if display else None)
    cam.start(wait_for=UNKNOWN)
    t0 = time.time()
    cam.wait_for(f"Video: no screen ({reason}){FIX}", 30)
    took = time.time() - t0
    cam.wait_for("  Auth      :")
    try:
        print(f"no-screen line {took:.2f} s after the first line")
        check(took < 2.0, f"the no-screen line came {took:.2f} s after start-up began")
        check("  Video     : no screen @ 10 fps, ~2000 kbps\n" in cam.output, "banner video line")
        check("0x0" not in cam.output, "0x0 shown")
        status, text = onvif_post(cam.port("onvif"), SOAP)
        check(status == 200 and "GetDeviceInformationResponse" in text, f"ONVIF said {text!r}")
        cam.wait_for("RTSP init failed\n", 30)
        # The RTSP port is closed, so a player is refused at once, and
        # ports.status says the stream is not running.
        cam.wait_for(f"RTSP: port {cam.port('rtsp')} closed", 30)
        try:
            socket.create_connection(("127.0.0.1", cam.port("rtsp")), timeout=10).close()
            check(False, "the RTSP port still takes connections")
        except ConnectionRefusedError:
            pass
        status = Path(cam.data_dir, "ports.status").read_text()
        check(status.startswith(f"rtsp={cam.port('rtsp')},{cam.port('rtsp')},0"), status)
        # A snapshot without a screen gets some answer, and nothing falls over.
        try:
            urllib.request.urlopen(f"http://127.0.0.1:{cam.port('onvif')}/onvif/snapshot",
                                   timeout=20).read()
        except urllib.error.HTTPError:
            pass
        check(onvif_post(cam.port("onvif"), SOAP)[0] == 200 and cam.proc.poll() is None,
              "the camera kept running")
    finally:
        check(cam.stop(15) == 0, "exit code 0")


def unreadable_settings(binary):
    """Each settings file keeps authentication on and logs why."""
    def nul(cam):
        Path(cam.cfg_path).write_bytes(b"announce_ip = 127.0.0.1\r\ndiscovery = 0\r\n"
                                       b"stream_auth = 0\x00\r\n")

    def fifo(cam):
        os.mkfifo(cam.cfg_path)

    def link(cam):
        secret = Path(cam.root, "secret")
        secret.write_text("stream_auth = 0\nfps = 12\n")
        os.symlink(secret, cam.cfg_path)

    cases = (
        (nul, 'stream_auth = "0?" - authentication stays on (1) until the value is fixed\n'),
        (fifo, " - using the defaults, with authentication kept on\n"),
        (link, " is a symbolic link - not followed (the camera reads and replaces only regular"
               " files here)\n"),
    )
    for prepare, said in cases:
        cam = Camera(binary, write_cfg=False)
        prepare(cam)
        cam.start()
        try:
            check(said in cam.output, f"{prepare.__name__}: no {said!r}")
            check("  Auth      : ON (RTSP Digest + ONVIF WS-Sec) (user=admin)\n" in cam.output,
                  f"{prepare.__name__}: authentication is off")
            check("@ 12 fps" not in cam.output, f"{prepare.__name__}: the link was followed")
        finally:
            check(cam.stop(15) == 0, "exit code 0")
        if prepare is link:
            check(os.path.islink(cam.cfg_path), "the link was replaced")


def main():
    args = parse_args()
    # Unreadable settings give the defaults, discovery and default ports
    # included: only loopback here.
    private_netns()
    one_shot_options(args.bin)
    no_screen(args.bin, None, "DISPLAY is not set")
    no_screen(args.bin, ":4711", "cannot open X display :4711")
    unreadable_settings(args.bin)


run_main(main)
