#!/usr/bin/env python3
"""Draws the program's emblem (a screen with a camera lens and a red recording
dot) and writes it as a Windows icon holding 16, 32, 48 and 256 pixel images:
32-bit bitmaps for the small sizes, PNG for 256 (as Windows' own icons do).

Usage: make-icon.py OUT.ico
Python standard library only; the output is the same byte for byte every run.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)

DARK = (0x1F, 0x3A, 0x5F)
SCREEN = (0x2F, 0x86, 0xD0)
LENS_RING = (0x0D, 0x22, 0x38)
LENS_GLASS = (0xBF, 0xE3, 0xFF)
RED = (0xE5, 0x39, 0x35)


def rounded_rect(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r

    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


# Painted in order, in a unit square (y downwards).
SHAPES = (
    (rounded_rect(0.30, 0.84, 0.70, 0.93, 0.03), DARK),  # foot
    (rounded_rect(0.44, 0.74, 0.56, 0.88, 0.0), DARK),  # neck
    (rounded_rect(0.04, 0.12, 0.96, 0.78, 0.09), DARK),  # frame
    (rounded_rect(0.10, 0.18, 0.90, 0.72, 0.05), SCREEN),  # screen
    (circle(0.50, 0.45, 0.20), LENS_RING),
    (circle(0.50, 0.45, 0.11), LENS_GLASS),
    (circle(0.46, 0.41, 0.035), (0xFF, 0xFF, 0xFF)),  # glint
    (circle(0.80, 0.29, 0.065), RED),
)


def draw(size):
    """Rows of straight (not premultiplied) RGBA pixels, top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) / size, (py + 0.5) / size
            r = g = b = a = 0.0  # premultiplied while compositing
            for sdf, (cr, cg, cb) in SHAPES:
                cover = min(max(0.5 - sdf(x, y) * size, 0.0), 1.0)
                if cover > 0:
                    keep = 1.0 - cover
                    r, g, b = cr / 255 * cover + r * keep, cg / 255 * cover + g * keep, cb / 255 * cover + b * keep
                    a = cover + a * keep
            if a > 0:
                row.append((round(r / a * 255), round(g / a * 255), round(b / a * 255), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(rows):
    """BITMAPINFOHEADER, bottom-up BGRA pixels, then the 1-bit mask (set where transparent)."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for i, p in enumerate(row):
            if p[3] == 0:
                line[i // 8] |= 0x80 >> (i % 8)
        mask += line
    return header + pixels + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-icon.py OUT.ico")
    images = [png(draw(s)) if s >= 256 else dib(draw(s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    tmp = sys.argv[1] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(out)
    os.replace(tmp, sys.argv[1])


if __name__ == "__main__":
    main()
