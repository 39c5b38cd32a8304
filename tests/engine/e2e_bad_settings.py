"""Bad settings input never crashes the engine and never loses the file: an
empty file, 10 MB, binary bytes, a 100 000-character line, a settings path
that is a directory, a read-only data directory, and an import of garbage."""

import os
import random
import subprocess
from pathlib import Path

from camera import Camera, check, parse_args, private_netns, run_main

GOOD = b"announce_ip = 127.0.0.1\r\ndiscovery = 0\r\n"


def case(binary, content, expect, cam=None):
    """Starts and stops the engine on a settings file (bytes, or None for a path
    prepared by the caller) and checks that the file is left as it was."""
    cam = cam or Camera(binary, write_cfg=False)
    if content is not None:
        Path(cam.cfg_path).write_bytes(content)
    cam.start()
    for text in expect:
        check(text in cam.output, f"expected {text!r}")
    check(cam.proc.poll() is None and cam.stop(15) == 0, "engine runs until SIGTERM, exit code 0")
    if content is not None:
        check(Path(cam.cfg_path).read_bytes() == content, f"the settings file changed ({len(content)} bytes)")
    return cam


def main():
    args = parse_args()
    private_netns()
    b = args.bin
    case(b, b"", ["  RTSP main : rtsp://"])

    rng = random.Random(7)
    lines = [f"unknown_{i} = {'v' * rng.randint(0, 80)}\r\n".encode() for i in range(150000)]
    big = GOOD + b"".join(lines)
    case(b, big + b"#" * (10 * 1024 * 1024 - len(big)) + b"\r\nfps = 12\r\n", ["@ 12 fps"])

    junk = bytes(rng.randrange(256) for _ in range(65536))
    case(b, GOOD + junk + b"\nfps = 0\x00\x07\n" + GOOD, ["CONFIG: "])

    case(b, GOOD + b"device_name = " + b"x" * 100000 + b"\r\nstream = " + b"y" * 100000 + b"\r\n",
         ['\u26A0 Invalid setting in the config file: device_name = "' + "x" * 24
          + '..." - using the default Vistrel',
          "  RTSP main : rtsp://127.0.0.1:8554/screenlive"])

    # The settings path is a directory: defaults and a clear line, nothing removed.
    cam = Camera(b, write_cfg=False)
    os.makedirs(os.path.join(cam.cfg_path, "inside"))
    case(b, None, ["is a directory, not a settings file - using the defaults"], cam)
    check(os.path.isdir(os.path.join(cam.cfg_path, "inside")), "directory left alone")

    # Read-only data directory: a read-only bind mount in a private mount namespace.
    cam = Camera(b, write_cfg=False)
    d = cam.data_dir
    cam.prefix = ["unshare", "-m", "sh", "-c",
                  f'mount --bind "{d}" "{d}" && mount -o remount,ro,bind "{d}" && exec "$0" "$@"']
    content = GOOD + b"fps = 11\r\n"
    case(b, content, ["@ 11 fps", "cannot write", "ports.status",
                      "running without the single-instance lock"], cam)

    # Importing garbage writes nothing and says so.
    env = dict(os.environ, ProgramData=cam.root, ASAN_OPTIONS="detect_leaks=0")

    def import_settings(data):
        Path(cam.root, "import.cfg").write_bytes(data)
        return subprocess.run([b, "--import-settings", Path(cam.root, "import.cfg")], env=env,
                              capture_output=True, timeout=30)

    r = import_settings(junk + b"\nadmin_pass = x\n")
    check(r.returncode == 2 and r.stdout.startswith(b"Import settings: 0 applied, ")
          and r.stdout.endswith(b" rejected (nothing written)\n"), f"import said {r}")
    r = import_settings(b"fps = 20\nlang = en\nadmin_user = x\n")
    check(r.returncode == 0 and r.stdout == b"Import settings: 2 applied, 1 rejected\n",
          f"import said {r}")
    check(Path(cam.cfg_path).read_bytes() == GOOD + b"fps = 20\r\nlang = en\r\n", "imported")
    r = subprocess.run([b, "--import-settings"], env=env, capture_output=True, timeout=30)
    check(r.returncode == 2, "import without a file")


run_main(main)
