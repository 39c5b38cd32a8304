"""The overlay and pointer settings of the settings file reach the stream: with
both plates and the pointer off a flat screen arrives flat; with the name plate
moved to the top-left only that corner (and the clock's) carries a plate."""

import subprocess

from camera import Camera, Xvfb, check, parse_args, run_main

ARGS = parse_args()
W, H = 640, 360  # the sub stream, small enough to compare every pixel


def grab(cam):
    url = f"rtsp://127.0.0.1:{cam.port('rtsp')}/screensub"
    raw = subprocess.run(["ffmpeg", "-v", "error", "-rtsp_transport", "tcp", "-i", url,
                          "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                         capture_output=True, timeout=60, check=True).stdout
    check(len(raw) == W * H, f"frame of {len(raw)} bytes")
    return raw


def differs(frame, x0, y0, x1, y1, ref):
    """True when some pixel of the box is far from the screen's flat grey."""
    return any(abs(frame[y * W + x] - ref) > 24 for y in range(y0, y1) for x in range(x0, x1))


def main():
    with Xvfb(1280, 720) as x:
        subprocess.run(["xsetroot", "-solid", "#808080"], env=x.env(), check=True)
        off = {"osd_name": 0, "osd_clock": 0, "show_cursor": 0, "web_admin": 0}
        with Camera(ARGS.bin, off, display=x.display) as cam:
            f = grab(cam)
            ref = f[(H // 2) * W + W // 4]
            check(not differs(f, 0, 0, W, H, ref), "plates or pointer drawn although switched off")
        moved = {"osd_name_pos": 0, "osd_clock_pos": 3, "show_cursor": 1, "web_admin": 0}
        with Camera(ARGS.bin, moved, display=x.display) as cam:
            cam.wait_for("Stream: mouse cursor shown")
            f = grab(cam)
            corner = (W // 4, H // 6)
            check(differs(f, 0, 0, *corner, ref), "no name plate at the top-left")
            check(differs(f, W - corner[0], H - corner[1], W, H, ref), "no clock at the bottom-right")
            check(not differs(f, W - corner[0], 0, W, corner[1], ref), "a plate left at the top-right")
            check(not differs(f, 0, H - corner[1], corner[0], H, ref), "a plate at the bottom-left")


run_main(main)
