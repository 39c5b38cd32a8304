"""The settings routes over HTTP with a logged-in session, the camera in a
network namespace of this test with a second namespace as the remote client
(a veth pair between them): a save from loopback is written unarmed, a remote
save of web_port arms, counts down and is reverted with a relaunch on the old
settings, or stays once confirmed; POST /stream pauses a playing ffprobe (one
IDR still frame, then one frame every 500 ms, timestamps 45000 apart) and
resuming starts with an IDR; /restart keeps the session; /restore refuses
wrong credentials (401, counted by the lockout) and with the right ones writes
the factory settings and relaunches on 13030."""

import json
import os
import re
import subprocess
import time
from pathlib import Path

from camera import Camera, Xvfb, check, free_port, parse_args, private_netns, run_main
from settings_e2e import Packets, run_of, stop_camera, wait_output

HERE = os.path.dirname(os.path.abspath(__file__))
import sys  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "web"))
from web_e2e_common import body, login, request, status, wait_port  # noqa: E402

ARGS = parse_args()
CAM_IP, CLIENT_IP = "10.77.41.1", "10.77.41.2"
CLIENT_NS = f"zebset{os.getpid()}"


def make_client_namespace():
    """The test runs in its own namespace (private_netns); the client side of
    the veth pair goes into a named one."""
    sh = lambda *a: subprocess.run(a, check=True, capture_output=True)
    sh("ip", "netns", "add", CLIENT_NS)
    sh("ip", "link", "add", "zsc0", "type", "veth", "peer", "name", "zsc1")
    sh("ip", "link", "set", "zsc1", "netns", CLIENT_NS)
    sh("ip", "addr", "add", CAM_IP + "/24", "dev", "zsc0")
    sh("ip", "link", "set", "zsc0", "up")
    sh("ip", "-n", CLIENT_NS, "addr", "add", CLIENT_IP + "/24", "dev", "zsc1")
    sh("ip", "-n", CLIENT_NS, "link", "set", "lo", "up")
    sh("ip", "-n", CLIENT_NS, "link", "set", "zsc1", "up")


def remote(port, method, path, token, data=""):
    """A request from the client namespace with curl; (status, JSON body)."""
    r = subprocess.run(["ip", "netns", "exec", CLIENT_NS, "curl", "-s", "--max-time", "20",
                        "-X", method, "-H", f"Cookie: zeb_sess={token}",
                        "-w", "\n%{http_code}", *(["--data", data] if data else []),
                        f"http://{CAM_IP}:{port}{path}"],
                       capture_output=True, text=True, timeout=30)
    text, code = r.stdout.rsplit("\n", 1)
    return code, json.loads(text)


def local(port, method, path, token, data=b""):
    a = request(port, method, path, cookie=token, body=data)
    b = body(a)
    return status(a), json.loads(b) if b.startswith(b"{") else b


def banners(n):
    return re.compile(r"(?s)" + r".*?".join([r"  Auth      :"] * n))


def pause_and_resume(cam, web, token):
    p = Packets(f"rtsp://127.0.0.1:{cam.port('rtsp')}/screensub")
    try:
        p.wait(run_of(9000, 3), 60, "live frames")
        code, answer = local(web, "POST", "/stream", token, b"on=0")
        check(code == "200 OK" and answer == {"paused": True}, f"pause: {code} {answer}")
        got = p.wait(run_of(45000, 4), 30, "paused frames 45000 apart")
        # The run of 45000 steps starts at the last live frame or at the first
        # paused picture: timestamps follow the clock, so the step between the
        # two is a whole number of paused periods, often exactly one.
        first = next(i for i in range(len(got) - 1, 0, -1)
                     if got[i][1] - got[i - 1][1] != 45000)
        if not got[first][2] and first + 1 < len(got):
            first += 1
        check(got[first][2], "the first paused picture is not an IDR frame")
        gaps = [got[i][0] - got[i - 1][0] for i in range(first + 2, len(got))]
        check(0.25 < sum(gaps) / len(gaps) < 1.0, f"paused frames {gaps} s apart, not 0.5 s")
        check(local(web, "GET", "/config.json", token)[1]["paused"] == 1, "config says running")
        code, answer = local(web, "POST", "/stream", token, b"on=1")
        check(answer == {"paused": False}, f"resume: {answer}")
        got = p.wait(run_of(9000, 3), 30, "live frames after the resume")
        # The step from the last paused picture to the first live frame is a
        # whole number of frame periods, 45000 among them.
        resumed = next(i for i in range(len(got) - 1, 0, -1)
                       if got[i][1] - got[i - 1][1] == 45000)
        if not got[resumed][2] and resumed + 1 < len(got):
            resumed += 1
        check(got[resumed][2], "the first frame after the resume is not an IDR frame")
        check("stream_on = 1" in Path(cam.cfg_path).read_text(), "stream_on not persisted")
    finally:
        p.close()


def saves_and_revert(cam, web, token):
    cfg = Path(cam.cfg_path)
    code, answer = local(web, "POST", "/save", token, b"fps=12")
    check(answer == {"ok": True, "needsRestart": True, "pending": False, "holdSeconds": 0},
          f"local save: {code} {answer}")
    check("fps = 12" in cfg.read_text() and not Path(cam.cfg_path + ".pending").exists(),
          "local save armed or not written")

    before = cfg.read_text()
    new_port = free_port()
    code, answer = remote(web, "POST", "/save", token, f"web_port={new_port}")
    check(code == "200" and answer == {"ok": True, "needsRestart": True, "pending": True,
                                       "holdSeconds": 90}, f"remote save: {code} {answer}")
    cam.wait_for(f"CFG: auto-revert armed for 90 s (remote change from {CLIENT_IP})")
    first = remote(web, "GET", "/pending.json", token)[1]
    time.sleep(1.5)  # the countdown itself is what is measured
    second = remote(web, "GET", "/pending.json", token)[1]
    check(first["pending"] and 85 <= first["secondsLeft"] <= 90
          and second["secondsLeft"] < first["secondsLeft"], f"countdown {first} {second}")

    # Nobody confirms: let the hold run out now (the deadline lives in the marker file).
    marker = Path(cam.cfg_path + ".pending")
    marker.write_text(re.sub(r"deadline=\d+", f"deadline={int(time.time()) + 2}",
                             marker.read_text()))
    wait_output(cam, "CFG: settings AUTO-REVERTED to previous values (no confirmation within "
                "hold window)", 30)
    wait_output(cam, banners(2), 60)
    check(cfg.read_text() == before, "the settings file was not restored")
    check(wait_port(web, 60), "the relaunched engine does not serve the old web port")

    token = login(web)
    code, answer = remote(web, "POST", "/save", token, f"web_port={new_port}")
    check(answer["pending"], f"second remote save not armed: {answer}")
    code, answer = remote(web, "POST", "/confirm", token)
    check(answer == {"ok": True, "was_pending": True}, f"confirm: {answer}")
    check(f"web_port = {new_port}" in cfg.read_text() and not marker.exists(), "not kept")
    check(remote(web, "GET", "/pending.json", token)[1] == {"pending": False, "secondsLeft": 0},
          "still pending")
    # Back to the running port for what follows.
    check(local(web, "POST", "/save", token, f"web_port={web}".encode())[1]["ok"], "save back")
    return token


def restart_and_restore(cam, web, token):
    code, answer = local(web, "POST", "/restart", token)
    check(code == "202 Accepted" and answer == {"restarting": True}, f"restart: {code} {answer}")
    wait_output(cam, banners(3), 60)
    check(wait_port(web, 60), "no web panel after the restart")
    code, answer = local(web, "GET", "/config.json", token)
    check(code == "200 OK" and answer["web_port"] == web, f"old cookie after restart: {code}")

    code, answer = local(web, "POST", "/restore", token, b"user=admin&pass=wrong")
    check(code == "401 Unauthorized" and answer == {"ok": False}, f"wrong restore: {code}")
    check(Path(cam.cfg_path).read_text().startswith("rtsp_port = "), "wrong restore wrote")
    code, answer = local(web, "POST", "/restore", token, b"user=admin&pass=tolvu")
    check(code == "202 Accepted" and answer == {"restarting": True}, f"restore: {code} {answer}")
    wait_output(cam, banners(4), 90)
    check("  Web Admin : http://" in cam.output.rsplit("=== zeb-engine", 1)[1] and
          cam.output.rsplit("=== zeb-engine", 1)[1].find(":13030/") > 0, "not on 13030")
    check(Path(cam.cfg_path).read_bytes().decode().startswith("# إعدادات محرّك Vistrel\r\n"),
          "not the factory file")
    check(wait_port(13030, 60), "nothing on 13030")
    # The factory engine's lockout counts failed restores: the eighth locks.
    token = login(13030)  # a successful login clears the count, so only once
    for i in range(8):
        code, _ = local(13030, "POST", "/restore", token, b"user=admin&pass=bad")
        check(code == "401 Unauthorized", f"attempt {i}: {code}")
    wait_output(cam, "Web: too many failed auth attempts -> locked 60s", 10)


def main():
    private_netns()
    make_client_namespace()
    try:
        with Xvfb(1280, 720) as x:
            web = free_port()
            cam = Camera(ARGS.bin, {"announce_ip": CAM_IP, "web_port": web, "web_admin": 1,
                                    "osd_name": 0, "osd_clock": 0}, display=x.display)
            try:
                cam.start()
                cam.wait_for("Web Admin ready", 60)
                cam.wait_for("RTSP server ready", 60)
                token = login(web)
                check(token, "login failed")
                pause_and_resume(cam, web, token)
                token = saves_and_revert(cam, web, token)
                restart_and_restore(cam, web, token)
            finally:
                stop_camera(cam)
    finally:
        subprocess.run(["ip", "netns", "del", CLIENT_NS], capture_output=True)


run_main(main)
