"""Raw HTTP helpers for the web-panel end-to-end tests."""

import re
import socket
import time


def raw(port, data, read_timeout=30, source=None, shut=False):
    """Sends bytes on a new connection and returns everything the camera
    answers until it closes the connection."""
    s = socket.socket()
    if source:
        s.bind((source, 0))
    s.settimeout(read_timeout)
    s.connect(("127.0.0.1", port))
    s.sendall(data)
    if shut:
        s.shutdown(socket.SHUT_WR)
    out = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            out += chunk
    except ConnectionResetError:
        pass
    s.close()
    return out


def request(port, method, path, cookie=None, body=b"", extra=b""):
    head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n".encode()
    if cookie:
        head += f"Cookie: zeb_sess={cookie}\r\n".encode()
    if body or method == "POST":
        head += f"Content-Length: {len(body)}\r\n".encode()
    return raw(port, head + extra + b"\r\n" + body)


def status(answer):
    return answer.split(b"\r\n", 1)[0].decode(errors="replace")[9:]


def body(answer):
    return answer.split(b"\r\n\r\n", 1)[1] if b"\r\n\r\n" in answer else b""


def login(port, user="admin", password="tolvu"):
    a = request(port, "POST", "/login", body=f"user={user}&pass={password}".encode())
    m = re.search(rb"zeb_sess=([0-9a-f]{32})", a)
    return m.group(1).decode() if m else None


def wait_port(port, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2):
                return True
        except OSError:
            time.sleep(0.2)
    return False
