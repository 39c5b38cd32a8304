"""Pieces the benchmark scripts share: a process's CPU time, and RTSP viewers
that count the access units they receive (RTP marker bits on channel 0)."""

import os
import threading

from rtsp_client import RtspClient

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User plus system CPU time of a process so far, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def count_access_units(buf):
    """Reads the whole interleaved frames at the start of buf; returns how many
    ended a video access unit and how many bytes they took."""
    units, i = 0, 0
    while len(buf) - i >= 4:
        length = buf[i + 2] << 8 | buf[i + 3]
        if len(buf) - i < 4 + length:
            break
        if buf[i + 1] == 0 and length >= 12 and buf[i + 5] & 0x80:
            units += 1
        i += 4 + length
    return units, i


class Viewer(threading.Thread):
    """Plays a stream over RTSP/TCP and counts the access units it receives."""

    def __init__(self, port, path="/screenlive"):
        super().__init__(daemon=True)
        self.c = RtspClient(port)
        self.c.play(path)
        self.frames = 0
        self.bytes = 0  # of whole interleaved frames, audio included
        self.stop = False

    def run(self):
        buf = bytearray(self.c.buf)
        while not self.stop:
            try:
                chunk = self.c.sock.recv(1 << 20)
            except OSError:
                break
            if not chunk:
                break
            buf += chunk
            units, used = count_access_units(buf)
            self.frames += units
            self.bytes += used
            del buf[:used]
