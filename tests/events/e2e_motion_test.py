"""Screen motion reaches recorders: with motion on and ffmpeg playing the stream,
a change of the Xvfb screen raises motion; a pull point gets Initialized, then
Changed true and, after the hold, Changed false; a push consumer on loopback
receives Notify for each; a consumer answering 500 is logged as failed once."""

import http.server
import json
import os
import re
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(__file__))
from camera import Camera, Xvfb, check, parse_args, run_main  # noqa: E402

args = parse_args()

ENV_HEAD = ('<?xml version="1.0" encoding="UTF-8"?>'
            '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
            'xmlns:tev="http://www.onvif.org/ver10/events/wsdl" '
            'xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2" '
            'xmlns:wsa="http://www.w3.org/2005/08/addressing"><s:Body>')
ENV_TAIL = "</s:Body></s:Envelope>"


def soap(url, body, timeout=40):
    data = (ENV_HEAD + body + ENV_TAIL).encode()
    req = urllib.request.Request(url, data=data, method="POST",
                                 headers={"Content-Type": "application/soap+xml; charset=utf-8"})
    with urllib.request.urlopen(req, timeout=timeout) as r:
        return r.read().decode()


def states(xml):
    """(operation, IsMotion, State) of the messages in an answer."""
    ops = re.findall(r'PropertyOperation="(\w+)"', xml)
    motion = re.findall(r'Name="IsMotion" Value="(\w+)"', xml)
    state = re.findall(r'Name="State" Value="(\w+)"', xml)
    return ops, motion, state


class Consumer:
    """A recorder's Notify endpoint on loopback answering `status`."""

    def __init__(self, status):
        self.bodies = []
        self.cond = threading.Condition()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                n = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(n).decode()
                with outer.cond:
                    outer.bodies.append(body)
                    outer.cond.notify_all()
                self.send_response(status)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *a):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/notify"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def wait_count(self, n, timeout):
        with self.cond:
            self.cond.wait_for(lambda: len(self.bodies) >= n, timeout)
            return list(self.bodies)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class NodeListener:
    """The npm `onvif` client's event loop; collects its JSON lines."""

    def __init__(self, port):
        src = os.environ.get("ZEB_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
        env = dict(os.environ, NODE_PATH=os.path.join(src, "tests", "node", "node_modules"))
        self.lines = []
        self.cond = threading.Condition()
        self.proc = subprocess.Popen(
            ["node", os.path.join(os.path.dirname(__file__), "onvif_events_client.js"),
             "127.0.0.1", str(port)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, env=env, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            print("[node] " + line.rstrip())
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            with self.cond:
                self.lines.append(obj)
                self.cond.notify_all()

    def motion_values(self):
        with self.cond:
            return [(o["operation"], o["value"]) for o in self.lines
                    if o.get("name") == "IsMotion"]

    def wait(self, pred, timeout):
        with self.cond:
            return self.cond.wait_for(lambda: pred(self.lines), timeout)

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)


def subscribe(url, consumer_url):
    return soap(url, "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>" + consumer_url +
                "</wsa:Address></wsnt:ConsumerReference><wsnt:InitialTerminationTime>PT600S"
                "</wsnt:InitialTerminationTime></wsnt:Subscribe>")


def test():
    good, bad = Consumer(202), Consumer(500)
    viewer = None
    with Xvfb(1280, 720) as x:
        subprocess.run(["xsetroot", "-display", x.display, "-solid", "#202020"], check=True)
        cam = Camera(args.bin, display=x.display,
                     settings={"motion": 1, "motion_hold": 2000, "motion_min": 300,
                               "substream": 0, "fps": 10})
        with cam:
            cam.wait_for("Motion: on (sensitivity 5, min 300 ms, hold 2000 ms, ignore taskbar 1, "
                         "corners 0%, top 0%, bottom 0%)", 5)
            cam.wait_for("ONVIF HTTP ready", 30)
            events = f"http://127.0.0.1:{cam.port('onvif')}/onvif/event_service"

            r = soap(events, "<tev:CreatePullPointSubscription><tev:InitialTerminationTime>PT120S"
                             "</tev:InitialTerminationTime></tev:CreatePullPointSubscription>")
            m = re.search(r"<wsa:Address>(http://127\.0\.0\.1:\d+/onvif/event_service\?sub=(\d+))"
                          r"</wsa:Address>", r)
            check(m is not None, "no subscription address in " + r[:400])
            pull_url = m.group(1)
            pull = ("<tev:PullMessages><tev:Timeout>{}</tev:Timeout><tev:MessageLimit>10"
                    "</tev:MessageLimit></tev:PullMessages>")
            ops, motion, state = states(soap(pull_url, pull.format("PT5S")))
            check(ops == ["Initialized"] * 2 and motion == ["false"] and state == ["false"],
                  f"first pull {ops} {motion} {state}")

            node = NodeListener(cam.port("onvif"))
            check(node.wait(lambda ls: any(o.get("name") == "IsMotion" for o in ls), 30),
                  "the npm onvif client got no Initialized event")
            check(node.motion_values() == [("Initialized", "false")],
                  f"npm onvif client: {node.motion_values()}")

            subscribe(events, good.url)
            subscribe(events, bad.url)
            cam.wait_for("subscribed to events (push)", 5)
            first = good.wait_count(1, 10)
            check(len(first) == 1 and 'PropertyOperation="Initialized"' in first[0] and
                  'Name="IsMotion" Value="false"' in first[0], "no Initialized push")
            cam.wait_for("ONVIF: event push to recorder 127.0.0.1 OK", 10)
            cam.wait_for("ONVIF: event push to recorder 127.0.0.1 FAILED "
                         "(recorder unreachable or rejected)", 10)

            # Detection runs only while someone plays the stream.
            viewer = subprocess.Popen(
                ["ffmpeg", "-nostdin", "-loglevel", "error", "-rtsp_transport", "tcp", "-i",
                 f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive", "-c", "copy", "-f", "null",
                 "-"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(4)  # playing, and the idle reference has settled
            ops, _, _ = states(soap(pull_url, pull.format("PT1S")))
            check(ops == [], f"motion before any change: {ops}")

            t0 = time.time()
            subprocess.run(["xsetroot", "-display", x.display, "-solid", "#e0c020"], check=True)
            ops, motion, state = states(soap(pull_url, pull.format("PT20S")))
            check(ops == ["Changed"] * 2 and motion == ["true"] and state == ["true"],
                  f"no motion after the screen change: {ops} {motion} {state}")
            ops, motion, state = states(soap(pull_url, pull.format("PT20S")))
            held = time.time() - t0
            check(ops == ["Changed"] * 2 and motion == ["false"] and state == ["false"],
                  f"motion did not end: {ops} {motion} {state}")
            check(held >= 2.0, f"motion ended after {held:.1f} s, before the hold time")

            bodies = good.wait_count(3, 10)
            pushed = [re.findall(r'Name="IsMotion" Value="(\w+)"', b) for b in bodies]
            check(pushed == [["false"], ["true"], ["false"]], f"pushed states {pushed}")
            want = [("Initialized", "false"), ("Changed", "true"), ("Changed", "false")]
            node.wait(lambda ls: len([o for o in ls if o.get("name") == "State"]) >= 3, 15)
            check(node.motion_values() == want, f"npm onvif client: {node.motion_values()}")
            alarm = [(o["operation"], o["value"]) for o in node.lines if o.get("name") == "State"]
            check(alarm == want, f"npm onvif client, MotionAlarm: {alarm}")
            node.close()
            check(all("<wsnt:Notify>" in b and "tns1:VideoSource/MotionAlarm" in b
                      for b in bodies), "Notify without both messages")
            check(len(bad.wait_count(3, 10)) >= 3, "the failing consumer was not tried")
            time.sleep(0.5)
            fails = cam.output.count("FAILED (recorder unreachable or rejected)")
            check(fails == 1, f"failing consumer logged {fails} times")
            viewer.terminate()
            viewer.wait(10)
    good.close()
    bad.close()


run_main(test)
