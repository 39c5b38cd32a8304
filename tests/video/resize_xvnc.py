"""A change of the screen size is followed within 30 frames: Xvnc starts at
1920x1080 and shrinks to 1280x720 while video_probe captures; then it grows to
1366x768."""

import os
import re
import subprocess

from camera import Xvnc, check, parse_args, resize, run_main

parse_args()
PROBE = os.path.join(os.environ["ZEB_BUILD_DIR"], "tests", "video", "video_probe")
CHANGES = {10: ("-s", "1280x720"), 70: ("--fb", "1366x768")}  # frame index: xrandr arguments


def main():
    with Xvnc(1920, 1080) as x:
        p = subprocess.Popen([PROBE, "watch", "140", "40"], env=x.env(), stdout=subprocess.PIPE, text=True)
        lines, frames = [], []
        for line in p.stdout:
            lines.append(line)
            m = re.match(r"frame (\d+) (\w+) (\d+x\d+)( changed)?", line)
            if m:
                frames.append((int(m.group(1)), m.group(2), m.group(3), bool(m.group(4))))
                if frames[-1][0] in CHANGES:
                    resize(x.display, *CHANGES[frames[-1][0]])
        p.wait(30)
        out = "".join(lines)
        check(p.returncode == 0, f"probe failed:\n{out[-2000:]}")
        for old, new in (("1920x1080", "1280x720"), ("1280x720", "1366x768")):
            check(f"Capture: screen size changed {old} -> {new} (re-initialising)" in out, out[-3000:])
        for issued, (_, size) in CHANGES.items():
            seen = [f for f in frames if f[0] > issued and f[3]]
            check(seen and seen[0][0] - issued <= 30, f"{size} not noticed within 30 frames: {seen[:1]}")
            check(seen[0][2] == size, f"frame {seen[0][0]} has size {seen[0][2]}, want {size}")
            after = [f for f in frames if seen[0][0] <= f[0] < seen[0][0] + 10]
            check(all(f[1] == "ok" and f[2] == size for f in after), f"frames after the change: {after}")


run_main(main)
