"""WS-Discovery prober for the discovery test; runs inside the test's own
network namespace. Modes:
  probe TYPES SCOPES   one multicast Probe (empty strings leave the element out);
                       prints the answers as a JSON list
  flood N              N Probes back to back from one socket; prints the answer count
  garbage N SEED       N random, truncated or oversized datagrams, no answers expected
"""

import json
import random
import socket
import sys
import time
import uuid

GROUP = ("239.255.255.250", 3702)


def probe_text(types, scopes, ns=' xmlns:dn="http://www.onvif.org/ver10/network/wsdl"'):
    t = f"<d:Types>{types}</d:Types>" if types else ""
    s = f"<d:Scopes>{scopes}</d:Scopes>" if scopes else ""
    return ('<?xml version="1.0" encoding="UTF-8"?><e:Envelope '
            'xmlns:e="http://www.w3.org/2003/05/soap-envelope" '
            'xmlns:w="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
            f'xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery"{ns}><e:Header>'
            f"<w:MessageID>uuid:{uuid.uuid4()}</w:MessageID><w:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</w:To>"
            "<w:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</w:Action></e:Header>"
            f"<e:Body><d:Probe>{t}{s}</d:Probe></e:Body></e:Envelope>").encode()


def sock():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    s.bind(("0.0.0.0", 0))
    return s


def collect(s, seconds):
    answers = []
    deadline = time.time() + seconds
    while True:
        left = deadline - time.time()
        if left <= 0:
            return answers
        s.settimeout(left)
        try:
            data, _ = s.recvfrom(65536)
            answers.append(data.decode("utf-8", "replace"))
        except socket.timeout:
            return answers


def main():
    mode = sys.argv[1]
    s = sock()
    if mode == "probe":
        s.sendto(probe_text(sys.argv[2], sys.argv[3]), GROUP)
        print(json.dumps(collect(s, 2.0)))
    elif mode == "flood":
        for _ in range(int(sys.argv[2])):
            s.sendto(probe_text("", ""), GROUP)
        print(len(collect(s, 2.0)))
    elif mode == "garbage":
        rnd = random.Random(int(sys.argv[3]))
        good = probe_text("", "")
        for i in range(int(sys.argv[2])):
            kind = i % 4
            if kind == 0:
                data = bytes(rnd.getrandbits(8) for _ in range(rnd.randint(1, 1500)))
            elif kind == 1:
                data = good[:rnd.randint(1, len(good) - 1)]
            elif kind == 2:
                data = b"<" * 8000 + good[:60000 - 8000]
            else:
                b = bytearray(good)
                for _ in range(10):
                    b[rnd.randrange(len(b))] = rnd.getrandbits(8)
                data = bytes(b)
            s.sendto(data, GROUP)
            if i % 200 == 199:
                time.sleep(0.05)  # stay below the kernel's receive-buffer drops
        print(0)


if __name__ == "__main__":
    main()
