"""Pieces the ONVIF end-to-end tests share: the npm `onvif` client, raw HTTP
exchanges and JPEG size reading."""

import json
import os
import socket
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("ZEB_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
NODE_MODULES = os.path.join(SOURCE, "tests", "node", "node_modules")


def node_env():
    env = dict(os.environ)
    env["NODE_PATH"] = NODE_MODULES
    return env


def onvif_client(host, port, user=None, password=None, timeout=90):
    """Runs the npm onvif client against the camera; returns its JSON report."""
    if not os.path.isdir(os.path.join(NODE_MODULES, "onvif")):
        raise RuntimeError("npm onvif client missing: run scripts/install-deps.sh")
    args = ["node", os.path.join(HERE, "onvif_client.js"), host, str(port)]
    if user is not None:
        args += [user, password]
    out = subprocess.run(args, env=node_env(), capture_output=True, text=True, timeout=timeout)
    lines = [l for l in out.stdout.splitlines() if l.startswith("{")]
    if not lines:
        raise RuntimeError(f"onvif client printed nothing: {out.stderr[-2000:]}")
    return json.loads(lines[-1])


def http_exchange(port, data, host="127.0.0.1", timeout=10.0, half_close=True):
    """Sends raw bytes on a new connection and returns everything answered."""
    with socket.create_connection((host, port), timeout=timeout) as s:
        s.sendall(data)
        if half_close:
            s.shutdown(socket.SHUT_WR)
        chunks = []
        while True:
            b = s.recv(65536)
            if not b:
                break
            chunks.append(b)
    return b"".join(chunks)


def soap_post(port, inner, path="/onvif/device_service", headers=""):
    body = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope '
            'xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>' + inner +
            '</s:Body></s:Envelope>').encode()
    req = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n{headers}"
           f"Content-Type: application/soap+xml\r\nContent-Length: {len(body)}\r\n\r\n").encode() + body
    return http_exchange(port, req)


def jpeg_size(data):
    """(width, height) from the first SOF marker of a JPEG, or None."""
    if data[:2] != b"\xff\xd8":
        return None
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            return None
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            h, w = struct.unpack(">HH", data[i + 5:i + 9])
            return (w, h)
        i += 2 + length
    return None
