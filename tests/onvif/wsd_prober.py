"""WS-Discovery prober run by the discovery test inside its own network namespace:
  probe TYPES SCOPES  one multicast Probe (an empty string leaves the element out);
                      prints the answers as a JSON list
  flood N             N Probes back to back from one socket; prints the answer count
  sizes               an 8-byte <Probe/>, a Probe with a 7 KB MessageID, one whose
                      MessageID holds markup, and a normal one; prints the answers
                      as JSON with the byte ratio of the normal answer to its probe
  garbage N SEED      N random, truncated, oversized or mutated datagrams"""

import json
import random
import socket
import sys
import time
import uuid

GROUP = ("239.255.255.250", 3702)


def probe_text(types="", scopes="", message_id=None):
    t = f"<d:Types>{types}</d:Types>" if types else ""
    s = f"<d:Scopes>{scopes}</d:Scopes>" if scopes else ""
    return ('<?xml version="1.0" encoding="UTF-8"?><e:Envelope '
            'xmlns:e="http://www.w3.org/2003/05/soap-envelope" '
            'xmlns:w="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
            'xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery" '
            'xmlns:dn="http://www.onvif.org/ver10/network/wsdl"><e:Header>'
            f"<w:MessageID>{message_id or 'uuid:' + str(uuid.uuid4())}</w:MessageID><w:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</w:To>"
            "<w:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</w:Action></e:Header>"
            f"<e:Body><d:Probe>{t}{s}</d:Probe></e:Body></e:Envelope>").encode()


def answers(s, seconds=2.0):
    out, deadline = [], time.time() + seconds
    while (left := deadline - time.time()) > 0:
        s.settimeout(left)
        try:
            out.append(s.recvfrom(65536)[0].decode("utf-8", "replace"))
        except socket.timeout:
            break
    return out


def garbage(rnd, good, i):
    if i % 4 == 0:
        return rnd.randbytes(rnd.randint(1, 1500))
    if i % 4 == 1:
        return good[:rnd.randint(1, len(good) - 1)]
    if i % 4 == 2:
        return b"<" * 8000 + good
    b = bytearray(good)
    for _ in range(10):
        b[rnd.randrange(len(b))] = rnd.getrandbits(8)
    return bytes(b)


def main():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    s.bind(("0.0.0.0", 0))
    mode = sys.argv[1]
    if mode == "probe":
        s.sendto(probe_text(sys.argv[2], sys.argv[3]), GROUP)
        print(json.dumps(answers(s)))
    elif mode == "sizes":
        out = {}
        for name, data in (("tiny", b"<Probe/>"), ("long_id", probe_text(message_id="u" * 7000)),
                           ("markup", probe_text(message_id="a&amp;b")), ("normal", probe_text())):
            s.sendto(data, GROUP)
            got = answers(s)
            out[name] = got
            if name == "normal" and got:
                out["ratio"] = len(got[0].encode()) / len(data)
                out["sizes"] = [len(got[0].encode()), len(data)]
        print(json.dumps(out))
    elif mode == "flood":
        for _ in range(int(sys.argv[2])):
            s.sendto(probe_text(), GROUP)
        print(len(answers(s)))
    else:
        rnd, good = random.Random(int(sys.argv[3])), probe_text()
        for i in range(int(sys.argv[2])):
            s.sendto(garbage(rnd, good, i), GROUP)
            if i % 200 == 199:
                time.sleep(0.05)  # stay below the kernel's receive-buffer drops


if __name__ == "__main__":
    main()
