"""WS-Discovery inside a private pair of network namespaces joined by a veth
pair (never on this machine's own interfaces): the camera, started with
discovery = 1 in one namespace, answers a multicast Probe from the other with
ProbeMatches; the npm `onvif` discovery finds it; Types/Scopes that do not
match get no answer; answers to one flooding source are bounded; random
datagrams do not stop it."""

import json
import os
import random
import stat
import subprocess
import tempfile
import time

from camera import Camera, check, parse_args, run_main
from onvif_e2e_common import HERE, NODE_MODULES, node_env


class NetnsPair:
    def __init__(self):
        tag = f"{os.getpid() % 100000}{random.randint(0, 99)}"
        self.a, self.b = f"zoa{tag}", f"zob{tag}"
        n = random.randint(0, 250)
        self.net = f"10.{150 + os.getpid() % 50}.{n}"
        self.cam_ip = self.net + ".1"

    def __enter__(self):
        a, b = self.a, self.b
        cmds = [f"netns add {a}", f"netns add {b}", f"link add {a}0 type veth peer name {b}0",
                f"link set {a}0 netns {a}", f"link set {b}0 netns {b}",
                f"-n {a} addr add {self.cam_ip}/24 dev {a}0", f"-n {b} addr add {self.net}.2/24 dev {b}0"]
        for ns in (a, b):
            cmds += [f"-n {ns} link set lo up", f"-n {ns} link set {ns}0 up",
                     f"-n {ns} route add default dev {ns}0"]
        try:
            for c in cmds:
                subprocess.run(["ip", *c.split()], check=True, capture_output=True, timeout=30)
        except Exception:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for ns in (self.a, self.b):
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)

    def in_b(self, *cmd):
        out = subprocess.run(["ip", "netns", "exec", self.b, *cmd], capture_output=True,
                             text=True, timeout=60, env=node_env())
        if out.returncode != 0:
            raise RuntimeError(f"{cmd} failed: {out.stderr[-1500:]}")
        return out.stdout


def wrapper_for(ns, binary):
    """A launcher that runs the camera inside the namespace."""
    fd, path = tempfile.mkstemp(prefix="zeb-netns-", suffix=".sh")
    with os.fdopen(fd, "w") as f:
        f.write(f'#!/bin/sh\nexec ip netns exec {ns} "{binary}" "$@"\n')
    os.chmod(path, stat.S_IRWXU)
    return path


def prober(net, *args):
    return net.in_b("python3", os.path.join(HERE, "wsd_prober.py"), *args)


def probe(net, types="", scopes=""):
    return json.loads(prober(net, "probe", types, scopes))


def main():
    args = parse_args()
    with NetnsPair() as net:
        launcher = wrapper_for(net.a, args.bin)
        try:
            # With discovery off the port is not opened at all.
            with Camera(launcher, settings={"announce_ip": net.cam_ip}) as cam:
                cam.wait_for("WS-Discovery disabled by config (add the camera manually by IP)")
                cam.wait_for("ONVIF HTTP ready")
                udp = subprocess.run(["ip", "netns", "exec", net.a, "ss", "-H", "-uln"],
                                     capture_output=True, text=True, timeout=30).stdout
                check(":3702" not in udp, f"port 3702 closed with discovery off: {udp}")

            settings = {"discovery": 1, "announce_ip": net.cam_ip, "device_name": "Lab cam #2"}
            with Camera(launcher, settings=settings) as cam:
                cam.wait_for("WS-Discovery ready (UDP 3702, joined 1 interface(s))")
                cam.wait_for("ONVIF HTTP ready")
                xaddr = f"http://{net.cam_ip}:{cam.port('onvif')}/onvif/device_service"

                answers = probe(net, "dn:NetworkVideoTransmitter")
                check(len(answers) == 1, f"one ProbeMatches: {answers}")
                a = answers[0]
                check("/discovery/ProbeMatches</a:Action>" in a and f"<d:XAddrs>{xaddr}</d:XAddrs>" in a
                      and "onvif://www.onvif.org/name/Lab-cam-2 " in a, f"answer content: {a}")
                check(len(probe(net, "", "onvif://www.onvif.org/name/LAB-CAM-2")) == 1, "scope in other case")
                check(len(probe(net, "", "onvif://www.onvif.org/Profile/S")) == 0, "Profile/S not matched")

                # The onvif package's own discovery, from the other namespace.
                js = ("const o=require('onvif');o.Discovery.probe({timeout:3000,resolve:false},"
                      "(e,c)=>{console.log(JSON.stringify(e?{error:String(e)}:c));});")
                found = json.loads(net.in_b("node", "-e", js).strip().splitlines()[-1])
                check(isinstance(found, list) and any(xaddr in json.dumps(c) for c in found),
                      f"onvif discovery finds the camera: {found}")

                # No amplification: only well-formed probes are answered, never
                # with more than three times their size; what is echoed is escaped.
                sizes = json.loads(prober(net, "sizes"))
                check(not sizes["tiny"] and not sizes["long_id"], f"bad probes answered: {sizes}")
                check(len(sizes["markup"]) == 1 and "<a:RelatesTo>a&amp;amp;b</a:RelatesTo>"
                      in sizes["markup"][0], f"MessageID echoed escaped: {sizes['markup']}")
                print(f"answer/probe bytes: {sizes['sizes'][0]}/{sizes['sizes'][1]} = "
                      f"{sizes['ratio']:.2f} (an 8-byte <Probe/> and a 7 KB MessageID: no answer)")
                check(sizes["ratio"] <= 3.0, f"answer at most 3x the probe: {sizes['ratio']:.2f}")

                # A flood from one source gets at most 10 answers a second.
                count = int(prober(net, "flood", "200"))
                check(1 <= count <= 20, f"answers to a 200-probe flood bounded: {count}")

                prober(net, "garbage", "2000", "7")
                check(cam.proc.poll() is None, "camera survived random datagrams")
                # Mutated probes that still match used up the prober's answers for
                # a while (and the camera works off its receive queue); then it answers.
                for _ in range(6):
                    time.sleep(1.0)
                    if len(probe(net, "dn:NetworkVideoTransmitter")) == 1:
                        break
                else:
                    raise AssertionError("no answer after the random datagrams")
        finally:
            os.unlink(launcher)


if __name__ == "__main__":
    if not os.path.isdir(os.path.join(NODE_MODULES, "onvif")):
        raise SystemExit("npm onvif client missing: run scripts/install-deps.sh")
    run_main(main)
