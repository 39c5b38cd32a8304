"""Screen capture and encoding against a real X server (Xvfb 1920x1080):
known content comes back pixel for pixel, overlays stay inside their published
rectangles, the encoded stream decodes with ffmpeg close to the source, the
pointer lands with its hot spot on the pointed pixel; and zeb_onvif
--dump-screens writes its four pictures."""

import os
import random
import re
import subprocess
import tempfile

from camera import Xvfb, check, parse_args, run_main

ARGS = parse_args()
PROBE = os.path.join(os.environ["ZEB_BUILD_DIR"], "tests", "video", "video_probe")
W, H = 1920, 1080


def capture(display, out, *options):
    """One frame through video_probe as RGB bytes, and what the probe printed."""
    text = probe(display, "capture", out, *options)
    check(f"size {W} {H}" in text, f"capture size: {text}")
    bgrx = open(out, "rb").read()
    rgb = bytearray(len(bgrx) // 4 * 3)
    rgb[0::3], rgb[1::3], rgb[2::3] = bgrx[2::4], bgrx[1::4], bgrx[0::4]
    return bytes(rgb), text


def known_picture():
    """Coloured 64x40 blocks plus a fine checker strip: every channel and odd
    coordinates matter."""
    rnd = random.Random(1234)
    buf = bytearray(W * H * 3)
    for by in range(0, H, 40):
        for bx in range(0, W, 64):
            line = bytes(rnd.randrange(256) for _ in range(3)) * 64
            for y in range(by, by + 40):
                buf[(y * W + bx) * 3:(y * W + bx + 64) * 3] = line
    for y in range(500, 520):
        for x in range(y % 2 ^ 1, W, 2):
            buf[(y * W + x) * 3:(y * W + x) * 3 + 3] = b"\x01\xfe\x80"
    return bytes(buf)


def show(display, path):
    # display exits with 1 even when it has painted the root window.
    subprocess.run(["display", "-window", "root", path], env=dict(os.environ, DISPLAY=display), timeout=60)


def probe(display, *args):
    r = subprocess.run([PROBE, *args], env=dict(os.environ, DISPLAY=display), capture_output=True, text=True,
                       timeout=120)
    check(r.returncode == 0, f"video_probe {args[0]} failed: {r.returncode} {r.stderr[-2000:]}")
    return r.stdout


def test_pixels(x, tmp):
    src = os.path.join(tmp, "known.ppm")
    pic = known_picture()
    with open(src, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (W, H) + pic)
    show(x.display, src)

    out = os.path.join(tmp, "frame.bgrx")
    got, _ = capture(x.display, out)
    if got != pic:
        bad = next(i for i in range(len(pic)) if got[i] != pic[i]) // 3
        check(False, f"first differing pixel at {bad % W},{bad // W}")

    # With the default overlays: two plates, everything outside them unchanged.
    got, text = capture(x.display, out, "overlay")
    rects = [tuple(map(int, m)) for m in re.findall(r"rect (\d+) (\d+) (\d+) (\d+)", text)]
    check(len(rects) == 2, f"rectangles: {text}")
    changed = [(i // 3 % W, i // 3 // W) for i in range(0, len(pic), 3) if got[i:i + 3] != pic[i:i + 3]]
    outside = [p for p in changed if not any(r[0] <= p[0] < r[2] and r[1] <= p[1] < r[3] for r in rects)]
    check(not outside, f"pixels changed outside the overlays: {outside[:5]}")
    check(len(changed) > 1000, "the plates were not drawn")


def desktop_picture(tmp):
    """A static text desktop: a window full of small text lines and a note."""
    path = os.path.join(tmp, "desktop.png")
    text = "\n".join(f"The quick brown fox jumps over the lazy dog 0123456789 ({i})" for i in range(40))
    notes = "\n".join(f"Note {i}: meeting at {9 + i % 8}:30" for i in range(15))
    subprocess.run(["convert", "-size", f"{W}x{H}", "xc:#dfe4ea", "-fill", "#2d3e50", "-draw", "rectangle 0,1040 1920,1080",
                    "-fill", "white", "-draw", "rectangle 120,80 1100,900", "-fill", "#3b6fd8", "-draw",
                    "rectangle 120,80 1100,110", "-font", "DejaVu-Sans", "-fill", "#202020", "-pointsize", "15",
                    "-interline-spacing", "1", "-annotate", "+140+135", text, "-fill", "#f6f0c8", "-draw",
                    "rectangle 1200,200 1800,700", "-fill", "#333", "-pointsize", "22", "-interline-spacing", "4",
                    "-annotate", "+1220+240", notes, path], check=True, timeout=60)
    return path


def test_encoding(x, tmp):
    show(x.display, desktop_picture(tmp))
    h264, yuv = os.path.join(tmp, "out.h264"), os.path.join(tmp, "src.yuv")
    check(f"size {W} {H}" in probe(x.display, "encode", "25", "2000", h264, yuv), "encode size")
    data = open(h264, "rb").read()
    types = [data[m.end()] & 0x1F for m in re.finditer(b"\x00\x00\x01", data) if m.end() < len(data)]
    check(types[:2] == [7, 8] and 5 in types[2:4], f"first unit must be SPS, PPS, IDR: {types[:6]}")
    # Every IDR picture (start of a run of type-5 slices) is led by SPS and PPS.
    starts = [i for i, t in enumerate(types) if t == 5 and (i == 0 or types[i - 1] != 5)]
    check(len(starts) >= 3, f"expected an IDR every second: {len(starts)}")
    for i in starts:
        check(types[max(0, i - 2):i] == [7, 8], f"IDR without SPS/PPS: {types[max(0, i - 4):i + 1]}")

    r = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{W}x{H}",
                        "-i", yuv, "-i", h264, "-lavfi", "[1:v][0:v]psnr", "-f", "null", "-"],
                       capture_output=True, text=True, timeout=120)
    m = re.search(r"PSNR y:[\d.]+ u:[\d.]+ v:[\d.]+ average:([\d.]+) min:([\d.]+)", r.stderr)
    check(m is not None, f"no PSNR from ffmpeg: {r.stderr[-1500:]}")
    print(f"PSNR average {m.group(1)} dB, min {m.group(2)} dB")
    check(float(m.group(2)) >= 35.0, f"PSNR {m.group(2)} dB below 35")


def test_pointer(x, tmp):
    """A solid 16x16 root cursor with its hot spot at (5, 9): the X server puts
    the pointer at the screen centre, so the square must start at (955, 531)."""
    env = dict(os.environ, DISPLAY=x.display)
    xbm = os.path.join(tmp, "cursor.xbm")
    with open(xbm, "w") as f:  # Xlib's reader wants the values on their own lines
        f.write("#define c_width 16\n#define c_height 16\n#define c_x_hot 5\n#define c_y_hot 9\n"
                "static unsigned char c_bits[] = {\n %s};\n" % ",".join(["0xff"] * 32))
    subprocess.run(["xsetroot", "-solid", "#336699"], env=env, check=True, timeout=30)
    r = subprocess.run(["xsetroot", "-cursor", xbm, xbm], env=env, capture_output=True, text=True, timeout=30)
    check(r.returncode == 0, f"xsetroot -cursor: {r.stderr}")
    out = os.path.join(tmp, "frame.bgrx")
    a, b = capture(x.display, out)[0], capture(x.display, out, "cursor")[0]
    diff = [i // 3 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3]]
    check(len(diff) == 256, f"pointer covers {len(diff)} pixels, want 256")
    xs, ys = [d % W for d in diff], [d // W for d in diff]
    check((min(xs), min(ys), max(xs), max(ys)) == (955, 531, 970, 546),
          f"pointer drawn at {min(xs)},{min(ys)}..{max(xs)},{max(ys)}")
    check(set(a[diff[0] * 3:diff[0] * 3 + 3]) != {0} and b[diff[0] * 3:diff[0] * 3 + 3] == b"\0\0\0", "pointer colour")


def test_dump_screens(tmp):
    run = lambda out: subprocess.run([ARGS.bin, "--dump-screens", out], capture_output=True, timeout=120,
                                     env=dict(os.environ, ProgramData=tmp))
    out = os.path.join(tmp, "dump")
    os.makedirs(out)
    r = run(out)
    check(r.returncode == 0, f"--dump-screens exited {r.returncode}: {r.stderr[-1000:]}")
    for name, size in {"16x9": (1280, 720), "4x3": (1024, 768), "5x4": (1280, 1024), "1080p": (1920, 1080)}.items():
        data = open(os.path.join(out, f"dump_paused_{name}.png"), "rb").read()
        got = (int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big"))
        check(data[:8] == b"\x89PNG\r\n\x1a\n" and got == size, f"{name}: not a {size} PNG")
    check(run(os.path.join(tmp, "missing", "dir")).returncode != 0, "writing into a missing directory succeeded")


def main():
    with tempfile.TemporaryDirectory() as tmp, Xvfb(W, H) as x:
        # The X server resets (and forgets the painted root window) whenever its
        # last client leaves; a watching client keeps it up between the probes.
        keeper = subprocess.Popen(["xprop", "-root", "-spy"], env=x.env(), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            test_pixels(x, tmp)
            test_encoding(x, tmp)
            test_pointer(x, tmp)
        finally:
            keeper.terminate()
            keeper.wait(10)
        test_dump_screens(tmp)
    # Without an X screen the capturer reports failure instead of crashing.
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    r = subprocess.run([PROBE, "capture", os.devnull], env=env, capture_output=True, timeout=60)
    check(r.returncode == 1, f"capture without a screen exited {r.returncode}")


run_main(main)
