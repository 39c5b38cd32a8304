"""Screen motion reaches recorders: with motion on and ffmpeg playing the stream,
a change of the Xvfb screen raises motion; the npm onvif client's pull point gets
Initialized, then Changed true and, after the hold, Changed false; a push consumer
on loopback receives Notify for each; a consumer answering 500 is logged as failed
once. Topic filters: pull points and push consumers subscribed with a filter get
only the topics it selects at the same change; a filter on a topic the camera
does not have is refused with the unsupported-topic fault."""

import http.server
import json
import os
import re
import subprocess
import threading
import time
import urllib.request

from camera import Camera, Xvfb, check, parse_args, run_main

args = parse_args()
SOAP = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope '
        'xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
        'xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2" '
        'xmlns:tev="http://www.onvif.org/ver10/events/wsdl" '
        'xmlns:tns1="http://www.onvif.org/ver10/topics" '
        'xmlns:wsa="http://www.w3.org/2005/08/addressing"><s:Body>{}</s:Body></s:Envelope>')
MOTION, ALARM = "tns1:RuleEngine/CellMotionDetector/Motion", "tns1:VideoSource/MotionAlarm"
# Filter -> topics delivered: (filter, motion topic, alarm topic); None: refused.
FILTERS = [("tns1:RuleEngine//.", True, False), (ALARM, False, True),
           ("tns1:RuleEngine//. | " + ALARM, True, True),
           ("tns1:Device/Trigger/DigitalInput", None, None)]


def topic_filter(expression):
    return ("<wsnt:Filter><wsnt:TopicExpression Dialect=\"http://docs.oasis-open.org/wsn/t-1/"
            f"TopicExpression/Concrete\">{expression}</wsnt:TopicExpression></wsnt:Filter>")


def topics(xml):
    return (MOTION in xml, ALARM in xml)


def soap(url, body):
    req = urllib.request.Request(url, data=SOAP.format(body).encode(), method="POST",
                                 headers={"Content-Type": "application/soap+xml; charset=utf-8"})
    with urllib.request.urlopen(req, timeout=40) as r:
        return r.read().decode()


class Filtered:
    """Pull points (first pull done) and push consumers made with each filter;
    a refused filter must get the unsupported-topic fault. Push consumers are
    made for the first two filters only, so that with the npm client and the
    two plain consumers the camera's eight subscriptions are not exceeded."""

    def __init__(self, port):
        base = f"http://127.0.0.1:{port}/onvif/event_service"
        self.pulls, self.pushes = [], []
        for i, (expr, motion, alarm) in enumerate(FILTERS):
            a = soap(base, "<tev:CreatePullPointSubscription>" + topic_filter(expr) +
                     "</tev:CreatePullPointSubscription>")
            if motion is None:
                check("wsntw:TopicNotSupportedFault" in a, f"{expr}: fault expected: {a[:300]}")
                consumer = Consumer(202)
                a = soap(base, "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>" +
                         consumer.url + "</wsa:Address></wsnt:ConsumerReference>" +
                         topic_filter(expr) + "</wsnt:Subscribe>")
                check("wsntw:TopicNotSupportedFault" in a, f"{expr}: push fault expected")
                consumer.server.shutdown()
                continue
            url = re.search(r"<wsa:Address>([^<]+)</wsa:Address>", a).group(1)
            first = soap(url, "<tev:PullMessages><tev:Timeout>PT0S</tev:Timeout>"
                              "<tev:MessageLimit>10</tev:MessageLimit></tev:PullMessages>")
            check(topics(first) == (motion, alarm), f"{expr}: Initialized topics {topics(first)}")
            self.pulls.append((expr, url, (motion, alarm)))
            if i < 2:
                consumer = Consumer(202)
                soap(base, "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>" + consumer.url +
                     "</wsa:Address></wsnt:ConsumerReference>" + topic_filter(expr) +
                     "</wsnt:Subscribe>")
                self.pushes.append((expr, consumer, (motion, alarm)))

    def check_change(self):
        """After a motion change: each subscriber got exactly its topics."""
        for expr, url, want in self.pulls:
            got = soap(url, "<tev:PullMessages><tev:Timeout>PT10S</tev:Timeout>"
                            "<tev:MessageLimit>10</tev:MessageLimit></tev:PullMessages>")
            check('PropertyOperation="Changed"' in got and topics(got) == want,
                  f"pull point {expr}: topics {topics(got)} of {got[:200]}")
        for expr, consumer, want in self.pushes:
            bodies = consumer.wait(2, 15)  # Initialized, then Changed
            check(len(bodies) >= 2 and all(topics(b) == want for b in bodies),
                  f"push {expr}: topics {[topics(b) for b in bodies]}")
            consumer.server.shutdown()


def messages(xml):
    """(operation, item, value) of the motion items in a Notify."""
    return re.findall(r'PropertyOperation="(\w+)".*?Name="(IsMotion|State)" Value="(\w+)"',
                      xml, re.S)


def both(operation, value):
    return [(operation, "IsMotion", value), (operation, "State", value)]


class Collector:
    """Items that arrive on another thread, with a wait for enough of them."""

    def __init__(self):
        self.items, self.times, self.cond = [], [], threading.Condition()

    def add(self, items):
        with self.cond:
            self.items += items
            self.times += [time.time()] * len(items)
            self.cond.notify_all()

    def wait(self, n, timeout):
        with self.cond:
            self.cond.wait_for(lambda: len(self.items) >= n, timeout)
            return list(self.items)


class Consumer(Collector):
    """A recorder's Notify endpoint on loopback answering `status`; items are bodies."""

    def __init__(self, status):
        super().__init__()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                outer.add([self.rfile.read(int(self.headers["Content-Length"])).decode()])
                self.send_response(status)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *a):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/notify"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()


class NodeListener(Collector):
    """The npm `onvif` client's event loop; items are (operation, name, value)."""

    def __init__(self, port):
        super().__init__()
        env = dict(os.environ, NODE_PATH=os.path.join(os.environ["ZEB_SOURCE_DIR"], "tests",
                                                      "node", "node_modules"))
        self.proc = subprocess.Popen(
            ["node", os.path.join(os.path.dirname(__file__), "onvif_events_client.js"),
             "127.0.0.1", str(port)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, env=env, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            print("[node] " + line.rstrip())
            o = json.loads(line) if line.startswith("{") else {}
            if o.get("name") in ("IsMotion", "State"):
                self.add([(o["operation"], o["name"], o["value"])])


def test():
    good, bad = Consumer(202), Consumer(500)
    with Xvfb(1280, 720) as x:
        subprocess.run(["xsetroot", "-display", x.display, "-solid", "#202020"], check=True)
        cam = Camera(args.bin, display=x.display, settings={
            "motion": 1, "motion_hold": 2000, "motion_min": 300, "substream": 0, "fps": 10})
        with cam:
            run_checks(x, cam, good, bad)
    for consumer in (good, bad):
        consumer.server.shutdown()


def run_checks(x, cam, good, bad):
    cam.wait_for("Motion: on (sensitivity 5, min 300 ms, hold 2000 ms, ignore taskbar 1, "
                 "corners 0%, top 0%, bottom 0%)", 5)
    cam.wait_for("ONVIF HTTP ready", 30)
    node = NodeListener(cam.port("onvif"))
    viewer = None
    try:
        got = node.wait(2, 30)
        check(got == both("Initialized", "false"), f"npm onvif client: {got}")
        for consumer in (good, bad):
            soap(f"http://127.0.0.1:{cam.port('onvif')}/onvif/event_service",
                 "<wsnt:Subscribe><wsnt:ConsumerReference><wsa:Address>" + consumer.url +
                 "</wsa:Address></wsnt:ConsumerReference><wsnt:InitialTerminationTime>PT600S"
                 "</wsnt:InitialTerminationTime></wsnt:Subscribe>")
        got = [messages(b) for b in good.wait(1, 10)]
        check(got == [both("Initialized", "false")], f"first push {got}")
        cam.wait_for("ONVIF: event push to recorder 127.0.0.1 OK", 10)
        cam.wait_for("ONVIF: event push to recorder 127.0.0.1 FAILED "
                     "(recorder unreachable or rejected)", 10)
        filtered = Filtered(cam.port("onvif"))

        # Detection runs only while someone plays the stream.
        viewer = subprocess.Popen(
            ["ffmpeg", "-nostdin", "-loglevel", "error", "-rtsp_transport", "tcp", "-i",
             f"rtsp://127.0.0.1:{cam.port('rtsp')}/screenlive", "-c", "copy", "-f", "null", "-"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(4)  # playing, and the idle reference has settled
        check(len(node.items) == 2 and len(good.items) == 1, "motion before any change")
        t0 = time.time()
        subprocess.run(["xsetroot", "-display", x.display, "-solid", "#e0c020"], check=True)
        want = [both("Initialized", "false"), both("Changed", "true"), both("Changed", "false")]
        got = node.wait(6, 30)
        check(got == sum(want, []), f"npm onvif client: {got}")
        check(node.times[-1] - t0 >= 2.0, "motion ended before the hold time")
        got = [messages(b) for b in good.wait(3, 10)]
        check(got == want, f"pushed {got}")
        check(all("<wsnt:Notify>" in b for b in good.items), "a push without Notify")
        check(len(bad.wait(3, 10)) >= 3, "the failing consumer was not tried")
        filtered.check_change()
        time.sleep(0.5)
        fails = cam.output.count("FAILED (recorder unreachable or rejected)")
        check(fails == 1, f"failing consumer logged {fails} times")
    finally:
        for proc in (viewer, node.proc):
            if proc:
                proc.terminate()
                proc.wait(10)


run_main(test)
