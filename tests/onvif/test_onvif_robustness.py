"""The ONVIF port under abuse: the 9th simultaneous connection of one address
and the 33rd in all are closed without an answer, an idle connection is dropped after the receive time-out,
oversized requests get 413, and 10 000 random, truncated or oversized requests
never crash the camera; a client still works afterwards."""

import random
import socket
import threading
import time

from camera import Camera, check, parse_args, run_main
from onvif_e2e_common import http_exchange, soap_post

ACTIONS = ["GetDeviceInformation", "GetProfiles", "GetProfile", "GetStreamUri", "GetOSDs",
           "GetVideoEncoderConfiguration", "PullMessages", "CreatePullPointSubscription",
           "Renew", "Unsubscribe", "GetScopes", "GetStatus", "GetOptions", "Nope"]


def valid_request(port, rnd):
    action = rnd.choice(ACTIONS)
    body = (f'<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body><x:{action}>'
            f'<x:ProfileToken>prof{rnd.randint(0, 2)}</x:ProfileToken><x:Timeout>PT0S</x:Timeout>'
            f'</x:{action}></s:Body></s:Envelope>').encode()
    return (f"POST /onvif/device_service?sub={rnd.randint(0, 99)} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode() + body


def mutated(port, rnd):
    base = valid_request(port, rnd)
    flipped = bytearray(base)
    for _ in range(rnd.randint(1, 20)):
        flipped[rnd.randrange(len(flipped))] = rnd.getrandbits(8)
    big = str(rnd.choice([10**7, 2**64, 2**70, 999999])).encode()
    return rnd.choice([
        lambda: rnd.randbytes(rnd.randint(1, 600)),
        lambda: base[:rnd.randint(0, len(base))],  # truncated anywhere
        lambda: bytes(flipped),
        lambda: base.replace(b"Content-Length: ", b"Content-Length: " + big),
        lambda: b"POST / HTTP/1.1\r\nX: " + b"A" * rnd.randint(17000, 40000) + b"\r\n\r\n",
        lambda: (b"GET /" + rnd.choice([b"onvif/snapshot", b"", b"x" * 3000]) +
                 b" HTTP/1.1\r\nAuthorization: Digest username=\"a\", nonce=\"\r\n\r\n"),
        lambda: base.replace(b"<x:", b"<" * rnd.randint(1, 3)).replace(b"</s:Body>", b""),
    ])()


def serves(port, seconds=10):
    """Whether a client gets an answer again within the given time."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if b"<tds:Manufacturer>Orvanta</tds:Manufacturer>" in soap_post(port, "<tds:GetDeviceInformation/>"):
            return True
        time.sleep(0.2)
    return False


def connection_limit(port):
    """8 connections per client address, 32 in all: the 9th from one address and
    the 33rd overall are closed without an answer, while a fresh address is served
    as long as slots are left."""
    def idle_from(addr, n):
        return [socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(addr, 0))
                for _ in range(n)]

    def refused(addr):
        with socket.create_connection(("127.0.0.1", port), timeout=5,
                                      source_address=(addr, 0)) as extra:
            try:
                extra.sendall(valid_request(port, random.Random(1)))
                return extra.recv(4096) == b""
            except (ConnectionResetError, BrokenPipeError):
                return True

    idle = idle_from("127.0.0.2", 8)
    time.sleep(1.0)  # let the camera accept all of them
    check(refused("127.0.0.2"), "9th connection of one address closed without an answer")
    check(serves(port, 5), "another address is served meanwhile")
    for addr in ("127.0.0.3", "127.0.0.4", "127.0.0.5"):
        idle += idle_from(addr, 8)
    time.sleep(1.0)
    check(refused("127.0.0.6"), "33rd connection closed without an answer")
    for s in idle:
        s.close()
    check(serves(port), "the port recovers after the idle connections closed")


def fuzz(port, count, seed, done):
    rnd = random.Random(seed)
    for _ in range(count):
        try:
            http_exchange(port, mutated(port, rnd), timeout=15)
        except ConnectionRefusedError:
            return  # the camera is gone
        except OSError:
            pass  # it may close an oversized request before reading it all
        done.append(1)


def main():
    args = parse_args()
    with Camera(args.bin) as cam:
        cam.wait_for("ONVIF HTTP ready")
        port = cam.port("onvif")
        connection_limit(port)

        big = http_exchange(port, b"POST / HTTP/1.1\r\nContent-Length: 50000000\r\n\r\n<a/>")
        check(big.startswith(b"HTTP/1.1 413 Payload Too Large"), f"oversized body refused: {big[:60]!r}")

        # An idle client is dropped after the receive time-out (10 s).
        idle = socket.create_connection(("127.0.0.1", port), timeout=30)
        started = time.time()
        closed_after = []
        watcher = threading.Thread(target=lambda: (idle.recv(1), closed_after.append(time.time() - started)),
                                   daemon=True)
        watcher.start()

        done = []
        workers = [threading.Thread(target=fuzz, args=(port, 2500, seed, done)) for seed in range(4)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        check(len(done) == 10000, f"every bad request was delivered: {len(done)}")
        check(cam.proc.poll() is None, "camera survived 10 000 bad requests")
        watcher.join(20)
        check(closed_after and 8 <= closed_after[0] <= 16,
              f"idle connection closed after the time-out: {closed_after}")
        check(serves(port, 1), "a client still works")


if __name__ == "__main__":
    run_main(main)
