"""Pieces the ONVIF end-to-end tests share (beside the harness's camera.py): the
npm `onvif` client, raw HTTP exchanges and ffprobe's view of a stream or picture."""

import json
import os
import socket
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("ZEB_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
NODE_MODULES = os.path.join(SOURCE, "tests", "node", "node_modules")


def node_env():
    return dict(os.environ, NODE_PATH=NODE_MODULES)


def onvif_client(port, user=None, password=None, timeout=90):
    """Runs the npm onvif client against the camera on loopback; returns its JSON report."""
    if not os.path.isdir(os.path.join(NODE_MODULES, "onvif")):
        raise RuntimeError("npm onvif client missing: run scripts/install-deps.sh")
    args = ["node", os.path.join(HERE, "onvif_client.js"), "127.0.0.1", str(port)]
    args += [user, password] if user is not None else []
    out = subprocess.run(args, env=node_env(), capture_output=True, text=True, timeout=timeout)
    lines = [l for l in out.stdout.splitlines() if l.startswith("{")]
    if not lines:
        raise RuntimeError(f"onvif client printed nothing: {out.stderr[-2000:]}")
    return json.loads(lines[-1])


def http_exchange(port, data, timeout=10.0):
    """Sends raw bytes on a new loopback connection and returns everything answered."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        chunks = []
        while b := s.recv(65536):
            chunks.append(b)
    return b"".join(chunks)


def soap_post(port, inner, path="/onvif/device_service"):
    body = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope '
            'xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>' + inner +
            '</s:Body></s:Envelope>').encode()
    return http_exchange(port, (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                                f"Content-Type: application/soap+xml\r\nContent-Length: {len(body)}"
                                "\r\n\r\n").encode() + body)


def probe_stream(source, data=None):
    """'codec,width,height' of the first stream of an RTSP address, or of `data` (a picture)."""
    args = ["-rtsp_transport", "tcp", source] if source.startswith("rtsp:") else ["-i", "pipe:0"]
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height",
                          "-of", "csv=p=0", *args], input=data, capture_output=True, timeout=60)
    return out.stdout.decode().strip()
