"""A small RTSP/RTP-over-TCP client for the end-to-end tests: raw requests,
interleaved packet reading, H.264 access-unit reassembly. Python stdlib only."""

import re
import socket
import struct
import time


class RtspClient:
    def __init__(self, port, host="127.0.0.1", timeout=10):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.buf = b""
        self.cseq = 0
        self.url = f"rtsp://{host}:{port}"

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def send_raw(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError("connection closed")
        self.buf += chunk

    def read_reply(self):
        """Next RTSP reply (skipping interleaved packets): (status, headers, body)."""
        while True:
            while self.buf[:1] == b"$":
                if not self._take_packet(skip=True):
                    self._fill()
            end = self.buf.find(b"\r\n\r\n")
            if self.buf and self.buf[:1] != b"$" and end >= 0:
                head = self.buf[:end].decode("utf-8", "replace")
                m = re.search(r"Content-Length:\s*(\d+)", head)
                blen = int(m.group(1)) if m else 0
                while len(self.buf) < end + 4 + blen:
                    self._fill()
                body = self.buf[end + 4:end + 4 + blen].decode("utf-8", "replace")
                self.buf = self.buf[end + 4 + blen:]
                lines = head.split("\r\n")
                status = int(lines[0].split()[1])
                headers = {}
                for line in lines[1:]:
                    if ":" in line:
                        k, v = line.split(":", 1)
                        headers.setdefault(k.strip().lower(), []).append(v.strip())
                return status, headers, body
            self._fill()

    def request(self, method, path="/screenlive", headers=None, url=None):
        self.cseq += 1
        target = url or (self.url + path)
        text = f"{method} {target} RTSP/1.0\r\nCSeq: {self.cseq}\r\n"
        for k, v in (headers or {}).items():
            text += f"{k}: {v}\r\n"
        self.send_raw(text + "\r\n")
        return self.read_reply()

    def play(self, path="/screenlive", audio=False, auth=None):
        h = {"Authorization": auth} if auth else {}
        st, _, sdp = self.request("DESCRIBE", path, h)
        assert st == 200, st
        tr = {"Transport": "RTP/AVP/TCP;unicast;interleaved=0-1", **h}
        assert self.request("SETUP", path + "/trackID=0", tr)[0] == 200
        if audio:
            tr = {"Transport": "RTP/AVP/TCP;unicast;interleaved=2-3", **h}
            assert self.request("SETUP", path + "/trackID=1", tr)[0] == 200
        st, _, _ = self.request("PLAY", path, {"Session": "12345678", **h})
        assert st == 200, st
        return sdp

    def _take_packet(self, skip=False):
        if len(self.buf) < 4:
            return None
        ch, ln = self.buf[1], struct.unpack(">H", self.buf[2:4])[0]
        if len(self.buf) < 4 + ln:
            return None
        pkt = (ch, self.buf[4:4 + ln])
        self.buf = self.buf[4 + ln:]
        return pkt

    def read_packet(self):
        """(channel, payload) of the next interleaved packet."""
        while True:
            if self.buf[:1] == b"$":
                p = self._take_packet()
                if p:
                    return p
            elif self.buf and self.buf.find(b"\r\n\r\n") >= 0 and self.buf[:4] == b"RTSP":
                raise ValueError("unexpected RTSP reply while playing: " + self.buf[:200].decode())
            elif self.buf and self.buf[:1] != b"$":
                raise ValueError(f"bad framing byte {self.buf[:8]!r}")
            self._fill()

    def read_frames(self, seconds=None, count=None, on_rtcp=None, on_audio=None):
        """Reassembled video access units: list of (timestamp, [nal types], bytes,
        arrival of the last packet, arrival of the first packet)."""
        frames, nals, seqs = [], [], []
        first_arrival = None
        cur_ts = None
        deadline = time.time() + seconds if seconds else None
        while True:
            if deadline and time.time() > deadline:
                break
            if count and len(frames) >= count:
                break
            ch, p = self.read_packet()
            if ch == 1 or ch == 3:
                if on_rtcp:
                    on_rtcp(ch, p)
                continue
            if ch == 2:
                if on_audio:
                    on_audio(p)
                continue
            marker = p[1] & 0x80
            seq, ts = struct.unpack(">HI", p[2:8])
            seqs.append(seq)
            payload = p[12:]
            if not nals:
                first_arrival = time.time()
            t = payload[0] & 0x1F
            if t == 28:
                if payload[1] & 0x80:
                    nals.append(bytearray([(payload[0] & 0xE0) | (payload[1] & 0x1F)]))
                nals[-1] += payload[2:]
            else:
                nals.append(bytearray(payload))
            cur_ts = ts
            if marker:
                types = [n[0] & 0x1F for n in nals]
                frames.append((cur_ts, types, b"".join(b"\0\0\0\1" + bytes(n) for n in nals), time.time(),
                               first_arrival))
                nals = []
        self.seqs = seqs
        return frames


def parse_sender_report(payload):
    """(ssrc, ntp_seconds_float, rtp_ts, packets, octets) of an RTCP SR, else None."""
    if len(payload) < 28 or payload[1] != 200:
        return None
    ssrc, ntp_s, ntp_f, rtp, pk, octs = struct.unpack(">IIIIII", payload[4:28])
    return ssrc, ntp_s - 2208988800 + ntp_f / 2**32, rtp, pk, octs
