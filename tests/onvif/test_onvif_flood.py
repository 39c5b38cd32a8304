"""One client address cannot shut the ONVIF port: while 127.0.0.2 keeps 32
PullMessages long polls (30 s) going and 200 slow connections trickling a byte
every half second (reconnecting when dropped), a recorder on 127.0.0.1 gets
every GetSystemDateAndTime answered within 1 s. Prints the figures."""

import re
import socket
import statistics
import threading
import time

from camera import Camera, check, parse_args, run_main
from onvif_e2e_common import soap_post

FLOODER = "127.0.0.2"
SOAP = ('<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>{}</s:Body>'
        '</s:Envelope>')


def request(port, path, inner):
    body = SOAP.format(inner).encode()
    return (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: application/soap+xml"
            f"\r\nContent-Length: {len(body)}\r\n\r\n").encode() + body


class Flood:
    def __init__(self, port, pull_path):
        self.port, self.stop = port, threading.Event()
        self.poll = request(port, pull_path, '<tev:PullMessages xmlns:tev="http://www.onvif.org/'
                                             'ver10/events/wsdl"><tev:Timeout>PT30S</tev:Timeout>'
                                             '</tev:PullMessages>')
        self.polls_answered = self.slow_made = 0
        self.threads = [threading.Thread(target=self.long_poll, daemon=True) for _ in range(32)]
        self.threads.append(threading.Thread(target=self.slow_clients, daemon=True))

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=35,
                                        source_address=(FLOODER, 0))

    def long_poll(self):
        while not self.stop.is_set():
            try:
                with self.connect() as s:
                    s.sendall(self.poll)
                    if s.recv(65536):
                        self.polls_answered += 1
            except OSError:
                time.sleep(0.05)

    def slow_clients(self, count=200):
        socks = []
        while not self.stop.is_set():
            while len(socks) < count and not self.stop.is_set():
                try:
                    s = self.connect()
                    s.settimeout(0)
                    socks.append(s)
                    self.slow_made += 1
                except OSError:
                    break
            for s in list(socks):
                try:
                    s.send(b"P")  # a byte of "POST ..." at a time
                except OSError:
                    socks.remove(s)
                    s.close()
            self.stop.wait(0.5)
        for s in socks:
            s.close()

    def __enter__(self):
        for t in self.threads:
            t.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()


def main():
    args = parse_args()
    with Camera(args.bin) as cam:
        cam.wait_for("ONVIF HTTP ready")
        port = cam.port("onvif")
        made = soap_post(port, '<tev:CreatePullPointSubscription xmlns:tev="http://www.onvif.org/'
                               'ver10/events/wsdl"/>', "/onvif/event_service").decode()
        pull_path = "/onvif/event_service?sub=" + re.search(r"\?sub=(\w+)<", made).group(1)
        soap_post(port, '<tev:PullMessages xmlns:tev="x"><tev:Timeout>PT0S</tev:Timeout>'
                        '</tev:PullMessages>', pull_path)  # Initialized: later pulls wait
        with Flood(port, pull_path) as flood:
            time.sleep(3)  # the flood has taken what it can
            times, answered = [], 0
            for _ in range(40):
                t0 = time.time()
                try:
                    a = soap_post(port, "<tds:GetSystemDateAndTime xmlns:tds=\"http://www.onvif.org/"
                                        "ver10/device/wsdl\"/>")
                    answered += b"<tds:GetSystemDateAndTimeResponse>" in a
                except OSError:
                    pass
                times.append(time.time() - t0)
                time.sleep(0.2)
            print(f"during the flood from {FLOODER} (32 long polls, {flood.slow_made} slow "
                  f"connections made, {flood.polls_answered} polls answered): {answered}/40 "
                  f"normal requests answered, median {statistics.median(times) * 1000:.0f} ms, "
                  f"max {max(times) * 1000:.0f} ms")
        check(answered == 40, f"only {answered} of 40 normal requests answered")
        check(max(times) < 1.0, f"a normal request took {max(times):.2f} s")
        check(cam.proc.poll() is None, "camera survived the flood")


if __name__ == "__main__":
    run_main(main)
