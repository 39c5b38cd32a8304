"""The web panel over raw sockets on a real camera: request bounds, routing,
the session gate, fixed answers, login, the QR code read by zbarimg, the
snapshot, the resources, and sessions carried across a restart."""

import os
import re
import shutil
import subprocess
import tempfile

from camera import Camera, Xvfb, check, parse_args, run_main
from web_e2e_common import body, login, raw, request, status


def pad_request(total, path=b"/login"):
    """A GET whose header block is exactly `total` bytes."""
    head = b"GET " + path + b" HTTP/1.1\r\nX-Pad: "
    return head + b"a" * (total - len(head) - 4) + b"\r\n\r\n"


def check_limits_and_routes(port, token):
    big = b"b" * 65536
    cases = [
        # name, bytes, expected status, expected body (None: any), shut write side
        ("header block 16385", pad_request(16385), "431 Request Header Fields Too Large", b"too large", False),
        ("no blank line, 16385", b"G" * 16385, "431 Request Header Fields Too Large", b"too large", False),
        ("header block 16384", pad_request(16384), "200 OK", None, False),
        ("body 65536", b"POST /logout HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + big, "302 Found", b"", False),
        ("body 65537", b"POST /logout HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", "413 Payload Too Large", b"too large", False),
        ("short body", b"POST /logout HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", "400 Bad Request", b"incomplete body", True),
        ("query ignored", b"GET /login?user=x HTTP/1.1\r\n\r\n", "200 OK", None, False),
        ("fragment ignored", b"GET /#x HTTP/1.1\r\n\r\n", "302 Found", b"", False),
        ("one-token line is /", b"GET\r\n\r\n", "302 Found", b"", False),
        ("no cookie: config", b"GET /config.json HTTP/1.1\r\n\r\n", "401 Unauthorized", b"", False),
        ("PUT /login, no session", b"PUT /login HTTP/1.1\r\n\r\n", "401 Unauthorized", b"", False),
        ("PUT /login, session", b"PUT /login HTTP/1.1\r\nCookie: a=1; zeb_sess= " + token.encode() + b" ; b=2\r\n\r\n",
         "404 Not Found", b"not found", False),
        ("fragment with session", b"GET /#x HTTP/1.1\r\nCookie: zeb_sess=" + token.encode() + b"\r\n\r\n", "200 OK", None, False),
        ("unknown path", b"GET /nope HTTP/1.1\r\nCookie: zeb_sess=" + token.encode() + b"\r\n\r\n", "404 Not Found", b"not found", False),
        ("eula", b"GET /eula HTTP/1.1\r\n\r\n", "200 OK", None, False),
        ("background", b"GET /login_bg.jpg HTTP/1.1\r\n\r\n", "200 OK", None, False),
    ]
    for name, data, want_status, want_body, shut in cases:
        a = raw(port, data, shut=shut)
        head = a.split(b"\r\n\r\n", 1)[0]
        check(status(a) == want_status, f"{name}: {status(a)!r}, wanted {want_status!r}")
        if want_body is not None:
            check(body(a) == want_body, f"{name}: body {body(a)[:60]!r}")
        check(b"\r\nConnection: close" in head, f"{name}: no Connection: close")
        if b"Content-Type: text/plain" in head or b"Content-Type: text/html" in head:
            check(b"X-Content-Type-Options: nosniff" in head or name in ("eula",), f"{name}: no nosniff")
    a = raw(port, b"GET / HTTP/1.1\r\n\r\n")
    check(a == b"HTTP/1.1 302 Found\r\nLocation: /login\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
          f"GET / without a cookie: {a!r}")
    a = raw(port, b"GET /config.json HTTP/1.1\r\n\r\n")
    check(a == b"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", repr(a))


def check_qr(port, machine_id):
    a = request(port, "GET", "/qr.svg")
    check(status(a) == "200 OK" and b"image/svg+xml" in a, "qr.svg: " + status(a))
    d = tempfile.mkdtemp(prefix="zeb-qr-")
    try:
        with open(os.path.join(d, "q.svg"), "wb") as f:
            f.write(body(a))
        subprocess.run(["rsvg-convert", "-z", "8", os.path.join(d, "q.svg"), "-o", os.path.join(d, "q.png")],
                       check=True, timeout=60)
        out = subprocess.run(["zbarimg", "--raw", "-q", os.path.join(d, "q.png")], capture_output=True,
                             timeout=60).stdout.decode().strip()
    finally:
        shutil.rmtree(d)
    want = f"https://support.vistrel.example/help?hwid={machine_id}&src=app_qr_web#contact"
    check(out == want, f"zbarimg read {out!r}, wanted {want!r}")


def jpeg_size(data):
    i = 2
    while i < len(data):
        marker, length = data[i + 1], int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    return None


def camera_pids(root):
    """Processes (ours: started by this test or relaunched by them) whose
    ProgramData is this test's own directory."""
    pids = []
    for p in os.listdir("/proc"):
        if not p.isdigit():
            continue
        try:
            with open(f"/proc/{p}/environ", "rb") as f:
                if f"ProgramData={root}".encode() in f.read().split(b"\0"):
                    pids.append(int(p))
        except OSError:
            pass
    return pids


def check_restart_keeps_session(cam, port, token):
    a = request(port, "POST", "/restart", cookie=token)
    if status(a) == "404 Not Found":
        print("NOTE: /restart is not in this build yet; the relaunch part is covered by the unit test")
        return
    check(status(a) == "202 Accepted", "restart: " + status(a))
    cam.wait_exit(60)
    with open(os.path.join(cam.data_dir, "sessions.dat"), "rb") as f:
        check(f.read().startswith(b"enc:"), "sessions.dat is not enc: text")
    deadline = __import__("time").time() + 90
    while True:
        try:
            a = request(port, "GET", "/log", cookie=token)
            if status(a) == "200 OK" and b"Web Admin ready" in body(a):
                break
        except OSError:
            pass
        check(__import__("time").time() < deadline, "the relaunched camera did not accept the old cookie")
        __import__("time").sleep(0.3)
    for pid in camera_pids(cam.root):
        if pid != os.getpid():
            os.kill(pid, 15)


def main():
    args = parse_args()
    with Xvfb() as x:
        subprocess.run(["xsetroot", "-solid", "#3060c0"], env=x.env(), check=True)
        cam = Camera(args.bin, display=x.display)
        with cam:
            port = cam.port("web")
            cam.wait_for(f"Web Admin ready -> http://127.0.0.1:{port}/  (login: admin)")
            check(f"  Web Admin : http://127.0.0.1:{port}/" in cam.output, "banner web line")

            page = body(request(port, "GET", "/login"))
            check(b'class="hint"' in page, "first-time hint missing")
            check(b"if(0)document.getElementById('err')" in page, "error mark set without an error")
            machine_id = re.search(rb"<code>([^<]+)</code>", page).group(1).decode()

            a = request(port, "POST", "/login", body=b"user=admin&pass=wrong")
            check(status(a) == "401 Unauthorized" and b"if(1)document" in a, "wrong password: " + status(a))
            cam.wait_for("Web: failed login attempt (user=admin)")
            token = login(port)
            check(token, "login with the factory credentials failed")
            with open(os.path.join(cam.data_dir, "hint.n")) as f:
                check(f.read().strip() == "1", "hint.n not counted")

            check_limits_and_routes(port, token)
            check_qr(port, machine_id)

            a = request(port, "GET", "/snapshot.jpg", cookie=token)
            check(status(a) == "200 OK" and b"Cache-Control: no-store" in a, "snapshot: " + status(a))
            jpg = body(a)
            check(jpg[:2] == b"\xff\xd8" and jpeg_size(jpg) == (1920, 1080), f"snapshot size {jpeg_size(jpg)}")
            a = request(port, "GET", "/log", cookie=token)
            check(b"Web Admin ready" in body(a) and b"text/plain" in a, "log route")

            check_restart_keeps_session(cam, port, token)


if __name__ == "__main__":
    run_main(main)
