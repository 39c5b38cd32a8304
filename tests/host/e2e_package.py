"""The Debian package from scripts/build-deb.sh: control fields, dependencies,
maintainer scripts and contents. With ZEB_TEST_INSTALL_DEB=1 (it changes the
machine) it also installs the package with apt, runs the installed
zeb_onvif --dump-screens, and removes it again, checking that the settings stay.
Skips when the package has not been built."""

import glob
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

from camera import check, parse_args, run_main


def sh(*argv, **kw):
    r = subprocess.run(argv, capture_output=True, text=True, timeout=600, **kw)
    print(" ".join(argv), "->", r.returncode)
    return r


def main():
    parse_args()
    debs = sorted(glob.glob(os.path.join(os.environ["ZEB_SOURCE_DIR"], "build-deb",
                                         "vistrel_*_amd64.deb")))
    if not debs:
        print("SKIP: no package; run scripts/build-deb.sh first")
        return
    deb = debs[-1]
    info = sh("dpkg-deb", "--info", deb).stdout
    for want in ("Package: vistrel", "Architecture: amd64", "libopenh264-7", "libsystemd0",
                 "libx11-6", "libssl3", "postinst", "prerm", "postrm"):
        check(want in info, f"{want!r} missing from:\n{info}")
    contents = sh("dpkg-deb", "--contents", deb).stdout
    for want in ("./usr/bin/zeb_onvif", "/systemd/system/vistrel.service"):
        check(want in contents, f"{want!r} missing from:\n{contents}")
    check("-rwxr-xr-x root/root" in contents, "executable not root-owned 0755")
    tmp = Path(tempfile.mkdtemp(prefix="zeb-deb-"))
    sh("dpkg-deb", "-x", deb, str(tmp))
    unit = next(tmp.glob("**/vistrel.service")).read_text()
    check('ExecStart="/usr/bin/zeb_onvif" --service\n' in unit, unit)

    if os.environ.get("ZEB_TEST_INSTALL_DEB") != "1":
        shutil.rmtree(tmp)
        return
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    data = Path("/var/lib/orvanta")
    data_existed = data.exists()
    check(sh("apt-get", "install", "-y", "-q", deb, env=env).returncode == 0, "apt install")
    try:
        check(shutil.which("zeb_onvif") == "/usr/bin/zeb_onvif", "not on the PATH")
        out = tmp / "dump"
        out.mkdir()
        r = sh("zeb_onvif", "--dump-screens", str(out))
        check(r.returncode == 0 and (out / "dump_paused_16x9.png").stat().st_size > 0,
              "installed --dump-screens")
        check(data.is_dir() and (data.stat().st_mode & 0o777) == 0o777, "data directory")
        marker = data / "zeb.cfg"
        kept = marker.exists()
        if not kept:
            marker.write_text("announce_ip = 127.0.0.1\ndiscovery = 0\n")
    finally:
        check(sh("apt-get", "remove", "-y", "-q", "vistrel", env=env).returncode == 0,
              "apt remove")
    check(marker.exists(), "apt remove took the settings")
    if not kept:
        marker.unlink()
    if not data_existed:
        shutil.rmtree(data)
    shutil.rmtree(tmp)


if __name__ == "__main__":
    run_main(main)
