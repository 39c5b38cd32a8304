"""Bad settings input never crashes the engine and never loses the file: an
empty file, 10 MB, binary bytes, a 100 000-character line, a settings path
that is a directory, a read-only data directory, and an import of garbage."""

import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engine_e2e as E  # noqa: E402
from camera import check, parse_args, run_main  # noqa: E402

GOOD = b"announce_ip = 127.0.0.1\r\ndiscovery = 0\r\n"


def start_and_stop(binary, root, argv_prefix=None, expect=()):
    cam = E.Run((argv_prefix or []) + [binary, "--background"], root)
    cam.wait_for("  Auth      :", 60)
    for text in expect:
        check(text in cam.output, f"expected {text!r}")
    check(cam.alive(), "engine runs after the banner")
    check(cam.stop() == 0, "exit code 0")
    return cam.output


def case(binary, name, content, expect=()):
    root = tempfile.mkdtemp(prefix=f"zeb-bad-{name}-")
    data = os.path.join(root, "Orvanta")
    os.makedirs(data)
    cfg = os.path.join(data, "zeb.cfg")
    E.write(cfg, content)
    print(f"--- {name}: {len(content)} bytes")
    out = start_and_stop(binary, root, expect=expect)
    check(E.read(cfg) == content, f"{name}: the settings file changed")
    return out


def main():
    args = parse_args()
    E.enter_private_netns()
    b = args.bin
    case(b, "empty", b"", ["  RTSP main : rtsp://"])

    rng = random.Random(7)
    lines = [f"unknown_{i} = {'v' * rng.randint(0, 80)}\r\n".encode() for i in range(150000)]
    big = GOOD + b"".join(lines)
    big += b"#" * (10 * 1024 * 1024 - len(big))
    case(b, "10MB", big + b"\r\nfps = 12\r\n", ["@ 12 fps"])

    binary = bytes(rng.randrange(256) for _ in range(65536))
    case(b, "binary", GOOD + binary + b"\nfps = 0\x00\x07\n" + GOOD, ["CONFIG: "])

    long_line = GOOD + b"device_name = " + b"x" * 100000 + b"\r\nstream = " + b"y" * 100000 + b"\r\n"
    case(b, "long-line", long_line, [
        '\u26A0 Invalid setting in the config file: device_name = "' + "x" * 24 + '..." - using the default Vistrel',
        "  RTSP main : rtsp://127.0.0.1:8554/screenlive"])

    # The settings path is a directory: defaults and a clear line, nothing removed.
    root = tempfile.mkdtemp(prefix="zeb-bad-dir-")
    cfg = os.path.join(root, "Orvanta", "zeb.cfg")
    os.makedirs(os.path.join(cfg, "inside"))
    start_and_stop(b, root, expect=["is a directory, not a settings file - using the defaults"])
    check(os.path.isdir(os.path.join(cfg, "inside")), "directory left alone")

    # Read-only data directory (a read-only bind mount in a private mount namespace).
    root = tempfile.mkdtemp(prefix="zeb-bad-ro-")
    data = os.path.join(root, "Orvanta")
    os.makedirs(data)
    content = GOOD + b"fps = 11\r\n"
    E.write(os.path.join(data, "zeb.cfg"), content)
    wrap = ["unshare", "-m", "sh", "-c",
            f'mount --bind "{data}" "{data}" && mount -o remount,ro,bind "{data}" && exec "$0" "$@"']
    out = start_and_stop(b, root, wrap, ["@ 11 fps", "cannot write", "ports.status"])
    check("running without the single-instance lock" in out, "lock problem is logged")
    check(E.read(os.path.join(data, "zeb.cfg")) == content, "settings unchanged")

    # Importing garbage writes nothing and says so.
    root = tempfile.mkdtemp(prefix="zeb-bad-imp-")
    data = os.path.join(root, "Orvanta")
    os.makedirs(data)
    E.write(os.path.join(data, "zeb.cfg"), content)
    junk = os.path.join(root, "junk.cfg")
    E.write(junk, binary + b"\nadmin_pass = x\n")
    env = dict(os.environ, ProgramData=root, ASAN_OPTIONS="detect_leaks=0")
    r = subprocess.run([b, "--import-settings", junk], env=env, capture_output=True, timeout=30)
    check(r.returncode == 2, f"import exit code {r.returncode}")
    check(r.stdout.endswith(b" rejected (nothing written)\n")
          and r.stdout.startswith(b"Import settings: 0 applied, "), f"import said {r.stdout!r}")
    E.write(junk, "fps = 20\nlang = en\nadmin_user = x\n")
    r = subprocess.run([b, "--import-settings", junk], env=env, capture_output=True, timeout=30)
    check(r.returncode == 0 and r.stdout == b"Import settings: 2 applied, 1 rejected\n",
          f"import said {r.stdout!r}")
    check(E.read(os.path.join(data, "zeb.cfg")) == GOOD + b"fps = 20\r\nlang = en\r\n", "imported")
    r = subprocess.run([b, "--import-settings"], env=env, capture_output=True, timeout=30)
    check(r.returncode == 2, "import without a file")


run_main(main)
