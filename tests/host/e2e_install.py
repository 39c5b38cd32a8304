"""--install-service and --uninstall-service: against a private systemd tree
(a switch of test builds) the unit is written, enabled, updated on a second
install, passes systemd-analyze verify and is removed again; the data
directory is opened to every local user. Where systemd does not run, the
three service options fail with code 1 and touch nothing."""

import os
import shutil
import stat
import subprocess
import tempfile
from pathlib import Path

from camera import check, parse_args, run_main


def main():
    args = parse_args()
    root = Path(tempfile.mkdtemp(prefix="zeb-unit-"))
    tree = root / "sys"
    env = dict(os.environ, ProgramData=str(root), ASAN_OPTIONS="detect_leaks=0",
               ZEB_TEST_SYSTEM_ROOT=str(tree))
    unit = tree / "etc/systemd/system/vistrel.service"
    wants = tree / "etc/systemd/system/multi-user.target.wants/vistrel.service"

    def run(option, environ=env):
        r = subprocess.run([args.bin, option], env=environ, capture_output=True, text=True,
                           timeout=60)
        print(r.stdout, r.stderr)
        return r

    r = run("--install-service")
    check(r.returncode == 0 and "Service: installed " in r.stdout, "first install")
    text = unit.read_text()
    check(f'ExecStart="{os.path.realpath(args.bin)}" --service\n' in text, text)
    check(text.startswith("[Unit]\nDescription=Vistrel Camera Service - Runs the Vistrel screen "
                          "camera in the active user session, and on the sign-in screen when "
                          "nobody is signed in.\n"), text)
    check(wants.is_symlink(), "unit not enabled")
    if shutil.which("systemd-analyze"):
        v = subprocess.run(["systemd-analyze", "verify", str(unit)], capture_output=True,
                           text=True, timeout=60)
        check(v.returncode == 0, "systemd-analyze verify: " + v.stdout + v.stderr)

    data = root / "Orvanta"
    check(stat.S_IMODE(data.stat().st_mode) == 0o777, oct(data.stat().st_mode))
    acl = os.getxattr(data, "system.posix_acl_default")
    check(len(acl) == 28 and acl.count(b"\x07\x00") == 3, f"default ACL {acl!r}")
    check(stat.S_IMODE((data / "machine.key").stat().st_mode) == 0o644, "machine.key rights")
    # New files take the inherited rights, not the creator's umask.
    old = os.umask(0o077)
    try:
        fd = os.open(data / "probe", os.O_CREAT | os.O_WRONLY, 0o666)
        os.close(fd)
    finally:
        os.umask(old)
    check(stat.S_IMODE((data / "probe").stat().st_mode) == 0o666, "new file rights")

    r = run("--install-service")
    check(r.returncode == 0 and "Service: updated " in r.stdout, "second install")

    r = run("--uninstall-service")
    check(r.returncode == 0 and not unit.exists() and not wants.is_symlink(), "uninstall")

    # No systemd (as in this container): both fail cleanly and write nothing.
    if not Path("/run/systemd/system").exists():
        plain = dict(env)
        del plain["ZEB_TEST_SYSTEM_ROOT"]
        existed = Path("/etc/systemd/system/vistrel.service").exists()
        for option in ("--install-service", "--uninstall-service"):
            r = run(option, plain)
            check(r.returncode == 1 and "systemd is not running" in r.stdout, option)
        check(Path("/etc/systemd/system/vistrel.service").exists() == existed, "unit touched")
        r = run("--service", plain)
        check(r.returncode == 1 and "systemd-logind is not running" in r.stdout, "--service")
    shutil.rmtree(root)


if __name__ == "__main__":
    run_main(main)
