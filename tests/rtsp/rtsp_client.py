"""A small RTSP/RTP-over-TCP client for the end-to-end tests and the benchmark:
raw requests, interleaved packet reading, H.264 access-unit reassembly."""

import re
import socket
import struct
import time


class RtspClient:
    def __init__(self, port, host="127.0.0.1", timeout=10, auth=None, source=None):
        """auth: an Authorization header value sent with every request();
        source: the local address to connect from (another loopback address)."""
        self.sock = socket.create_connection((host, port), timeout=timeout,
                                             source_address=(source, 0) if source else None)
        self.auth = {"Authorization": auth} if auth else {}
        self.buf = b""
        self.cseq = 0
        self.url = f"rtsp://{host}:{port}"

    def close(self):
        self.sock.close()

    def send_raw(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError("connection closed")
        self.buf += chunk

    def _next(self):
        """The next interleaved packet as (channel, payload) or RTSP reply as
        (status, headers, body); headers maps lower-case names to value lists."""
        while True:
            if self.buf[:1] == b"$" and len(self.buf) >= 4:
                end = 4 + struct.unpack(">H", self.buf[2:4])[0]
                if len(self.buf) >= end:
                    ch, payload, self.buf = self.buf[1], self.buf[4:end], self.buf[end:]
                    return ch, payload
            elif self.buf[:1] not in (b"", b"$") and b"\r\n\r\n" in self.buf:
                end = self.buf.index(b"\r\n\r\n")
                head = self.buf[:end].decode("utf-8", "replace")
                m = re.search(r"Content-Length:\s*(\d+)", head)
                end_body = end + 4 + (int(m.group(1)) if m else 0)
                if len(self.buf) >= end_body:
                    body, self.buf = self.buf[end + 4:end_body].decode("utf-8", "replace"), self.buf[end_body:]
                    lines = head.split("\r\n")
                    headers = {}
                    for k, _, v in (line.partition(":") for line in lines[1:]):
                        headers.setdefault(k.strip().lower(), []).append(v.strip())
                    return int(lines[0].split()[1]), headers, body
            self._fill()

    def read_reply(self):
        """Next RTSP reply, skipping interleaved packets."""
        while len(r := self._next()) != 3:
            pass
        return r

    def request(self, method, path="/screenlive", headers=None):
        self.cseq += 1
        text = f"{method} {self.url}{path} RTSP/1.0\r\nCSeq: {self.cseq}\r\n"
        text += "".join(f"{k}: {v}\r\n" for k, v in {**self.auth, **(headers or {})}.items())
        self.send_raw(text + "\r\n")
        return self.read_reply()

    def play(self, path="/screenlive"):
        st, _, sdp = self.request("DESCRIBE", path)
        assert st == 200, st
        st = self.request("SETUP", path + "/trackID=0", {"Transport": "RTP/AVP/TCP;unicast;interleaved=0-1"})[0]
        assert st == 200, st
        st = self.request("PLAY", path, {"Session": "12345678"})[0]
        assert st == 200, st
        return sdp

    def read_packet(self):
        """(channel, payload) of the next interleaved packet."""
        r = self._next()
        if len(r) == 3:
            raise ValueError(f"RTSP reply while playing: {r}")
        return r

    def read_frames(self, seconds=None, count=None, on_rtcp=None):
        """Reassembled video access units: list of (timestamp, [nal types], bytes,
        arrival of the last packet, arrival of the first packet). RTP sequence
        numbers seen are left in .seqs."""
        frames, nals, self.seqs = [], [], []
        deadline = time.time() + seconds if seconds else None
        while not (deadline and time.time() > deadline) and not (count and len(frames) >= count):
            ch, p = self.read_packet()
            if ch != 0:
                if ch in (1, 3) and on_rtcp:
                    on_rtcp(ch, p)
                continue
            seq, ts = struct.unpack(">HI", p[2:8])
            self.seqs.append(seq)
            payload = p[12:]
            if not nals:
                first_arrival = time.time()
            if payload[0] & 0x1F == 28:  # FU-A
                if payload[1] & 0x80:
                    nals.append(bytearray([(payload[0] & 0xE0) | (payload[1] & 0x1F)]))
                nals[-1] += payload[2:]
            else:
                nals.append(bytearray(payload))
            if p[1] & 0x80:
                frames.append((ts, [n[0] & 0x1F for n in nals], b"".join(b"\0\0\0\1" + bytes(n) for n in nals),
                               time.time(), first_arrival))
                nals = []
        return frames


def parse_sender_report(payload):
    """(ssrc, ntp_seconds_float, rtp_ts, packets, octets) of an RTCP SR, else None."""
    if len(payload) < 28 or payload[1] != 200:
        return None
    ssrc, ntp_s, ntp_f, rtp, pk, octs = struct.unpack(">IIIIII", payload[4:28])
    return ssrc, ntp_s - 2208988800 + ntp_f / 2**32, rtp, pk, octs
