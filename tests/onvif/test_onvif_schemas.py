"""Every answer of the device, media, imaging and events services, and a pushed
Notify, validated against the ONVIF schemas with xmllint: one camera with audio
and the sub stream on, one with both off. Faults are only counted. The schemas
are read from ../shared/onvif-schemas beside the project; where that folder is
absent the test says it skipped itself."""

import http.server
import os
import re
import subprocess
import sys
import tempfile
import threading

from camera import Camera, Xvfb, check, parse_args, run_main
from onvif_e2e_common import SOURCE, soap_post

SCHEMAS = os.path.join(os.path.dirname(SOURCE), "shared", "onvif-schemas", "all.xsd")

DEVICE = ["GetSystemDateAndTime", "GetDeviceInformation", "GetCapabilities", "GetServices",
          ("GetServices", "<tds:IncludeCapability>true</tds:IncludeCapability>"), "GetScopes",
          "SetSystemDateAndTime", "SetHostname", "SetScopes", "SystemReboot", "GetHostname",
          "GetDiscoveryMode", "GetWsdlUrl", "GetUsers", "GetNetworkDefaultGateway", "GetDNS",
          "GetNTP", "GetNetworkProtocols", "GetNetworkInterfaces", "GetServiceCapabilities"]
MEDIA = ["GetVideoSources", "GetVideoSourceConfigurations", "GetVideoEncoderConfigurationOptions",
         ("GetVideoEncoderConfigurationOptions", "<trt:ConfigurationToken>venccfg1</trt:ConfigurationToken>"),
         "GetVideoEncoderConfigurations", "GetProfiles", "GetSnapshotUri",
         "SetVideoEncoderConfiguration", "SetVideoSourceConfiguration",
         "GetVideoSourceConfigurationOptions", "GetGuaranteedNumberOfVideoEncoderInstances",
         "GetCompatibleVideoSourceConfigurations", "GetAudioEncoderConfigurationOptions",
         "GetAudioSources", "GetAudioEncoderConfigurations", "GetAudioSourceConfigurations",
         "GetMetadataConfigurations", "GetAudioEncoderConfiguration", "GetAudioSourceConfiguration",
         "GetCompatibleAudioEncoderConfigurations", "GetCompatibleAudioSourceConfigurations",
         "SetAudioEncoderConfiguration", "SetAudioSourceConfiguration",
         "AddAudioEncoderConfiguration", "AddAudioSourceConfiguration",
         "RemoveAudioEncoderConfiguration", "RemoveAudioSourceConfiguration",
         "GetAudioOutputConfigurationOptions", "GetAudioOutputConfigurations", "GetAudioOutputs",
         "GetAudioDecoderConfigurations", "GetAudioSourceConfigurationOptions", "GetOSDOptions",
         "GetOSDs", ("GetOSD", "<trt:OSDToken>osd_name</trt:OSDToken>"),
         ("GetOSD", "<trt:OSDToken>osd_clock</trt:OSDToken>"), "SetOSD", "CreateOSD", "DeleteOSD",
         "GetCompatibleVideoAnalyticsConfigurations", "GetVideoAnalyticsConfigurations",
         "GetServiceCapabilities"]
MEDIA += [(a, f"<trt:ProfileToken>{p}</trt:ProfileToken>") for p in ("prof0", "prof1")
          for a in ("GetProfile", "GetStreamUri", "GetCompatibleVideoEncoderConfigurations")]
MEDIA += [(a, f"<trt:ConfigurationToken>{t}cfg{i}</trt:ConfigurationToken>") for i in (0, 1)
          for a, t in (("GetVideoEncoderConfiguration", "venc"), ("GetVideoSourceConfiguration", "vsrc"))]
IMAGING = ["GetImagingSettings", "SetImagingSettings", "GetMoveOptions", "GetServiceCapabilities",
           ("GetStatus", "<timg:VideoSourceToken>vsrc0</timg:VideoSourceToken>"),
           ("GetOptions", "<timg:VideoSourceToken>vsrc0</timg:VideoSourceToken>")]
EVENTS = ["GetEventProperties", "SetSynchronizationPoint", "GetServiceCapabilities",
          ("CreatePullPointSubscription", "<tev:InitialTerminationTime>PT60S</tev:InitialTerminationTime>")]
SERVICES = [("device_service", "tds", "http://www.onvif.org/ver10/device/wsdl", DEVICE),
            ("media_service", "trt", "http://www.onvif.org/ver10/media/wsdl", MEDIA),
            ("imaging_service", "timg", "http://www.onvif.org/ver20/imaging/wsdl", IMAGING),
            ("event_service", "tev", "http://www.onvif.org/ver10/events/wsdl", EVENTS)]
EVENT_NS = ('xmlns:tev="http://www.onvif.org/ver10/events/wsdl" '
            'xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2" '
            'xmlns:wsa="http://www.w3.org/2005/08/addressing"')


def body_document(envelope):
    """The first child of the SOAP Body as a document of its own, with the
    envelope's namespace declarations (QName values inside need them);
    None for a fault."""
    decls = re.search(r"<env:Envelope( [^>]*)>", envelope).group(1)
    body = envelope.split("<env:Body>", 1)[1].rsplit("</env:Body>", 1)[0]
    if body.startswith("<env:Fault"):
        return None
    tag = re.match(r"<[\w:.-]+", body)
    return '<?xml version="1.0" encoding="UTF-8"?>' + body[:tag.end()] + decls + body[tag.end():]


def envelope_of(answer):
    head, _, env = answer.decode("utf-8").partition("\r\n\r\n")
    check(head.startswith("HTTP/1.1 200 OK"), f"answer status: {head[:80]}")
    return env


class NotifyCatcher(http.server.ThreadingHTTPServer):
    """A recorder's Notify endpoint on loopback; keeps every body it is sent."""

    def __init__(self):
        self.bodies, self.cond = [], threading.Condition()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"])).decode()
                with outer.cond:
                    outer.bodies.append(body)
                    outer.cond.notify_all()
                self.send_response(202)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *a):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()


def answers_of(port, catcher):
    """(name, envelope) of every action of the four services on this camera."""
    out = []
    for path, prefix, ns, actions in SERVICES:
        for a in actions:
            name, args = a if isinstance(a, tuple) else (a, "")
            inner = f'<{prefix}:{name} xmlns:{prefix}="{ns}" {EVENT_NS}>{args}</{prefix}:{name}>'
            out.append((f"{path}/{name}{' ' + args if args else ''}",
                        envelope_of(soap_post(port, inner, "/onvif/" + path))))
    ref = re.search(r"event_service\?sub=(\w+)<", out[-1][1]).group(1)
    events = "/onvif/event_service?sub=" + ref
    for name, inner in (
            ("PullMessages", f"<tev:PullMessages {EVENT_NS}><tev:Timeout>PT0S</tev:Timeout>"
                             "<tev:MessageLimit>10</tev:MessageLimit></tev:PullMessages>"),
            ("Renew", f"<wsnt:Renew {EVENT_NS}><wsnt:TerminationTime>PT120S</wsnt:TerminationTime>"
                      "</wsnt:Renew>"),
            ("Unsubscribe", f"<wsnt:Unsubscribe {EVENT_NS}/>")):
        out.append((name, envelope_of(soap_post(port, inner, events))))
    url = f"http://127.0.0.1:{catcher.server_address[1]}/notify"
    out.append(("Subscribe", envelope_of(soap_post(
        port, f"<wsnt:Subscribe {EVENT_NS}><wsnt:ConsumerReference><wsa:Address>{url}</wsa:Address>"
              "</wsnt:ConsumerReference><wsnt:Filter><wsnt:TopicExpression Dialect=\"http://docs."
              "oasis-open.org/wsn/t-1/TopicExpression/Concrete\" xmlns:tns1=\"http://www.onvif.org/"
              "ver10/topics\">tns1:VideoSource/MotionAlarm</wsnt:TopicExpression></wsnt:Filter>"
              "</wsnt:Subscribe>", "/onvif/event_service"))))
    with catcher.cond:
        check(catcher.cond.wait_for(lambda: catcher.bodies, 30), "no Notify pushed")
        out.append(("Notify", catcher.bodies.pop()))
    return out


def validate(named_envelopes, tmp):
    """Runs xmllint over every non-fault body; returns (valid, faults, errors)."""
    files, faults = {}, []
    for i, (name, env) in enumerate(named_envelopes):
        doc = body_document(env)
        if doc is None:
            faults.append(name)
            continue
        path = os.path.join(tmp, f"{i:03d}.xml")
        with open(path, "w") as f:
            f.write(doc)
        files[path] = name
    r = subprocess.run(["xmllint", "--nonet", "--noout", "--schema", SCHEMAS, *files],
                       capture_output=True, text=True, timeout=300)
    errors = [f"{files.get(l.split(':')[0], '?')}: {l}" for l in r.stderr.splitlines()
              if not l.endswith(" validates") and l.split(":")[0] in files]
    return len(files), faults, errors


def main():
    args = parse_args()
    if not os.path.isfile(SCHEMAS):
        print(f"SKIP: no ONVIF schemas at {SCHEMAS}")
        return
    catcher = NotifyCatcher()
    tmp = tempfile.mkdtemp(prefix="zeb-schemas-")
    total = 0
    with Xvfb(1280, 720) as x:
        for settings in ({"audio": 1, "substream": 1, "osd_clock": 1},
                         {"audio": 0, "substream": 0, "osd_clock": 0}):
            with Camera(args.bin, display=x.display, settings=settings) as cam:
                cam.wait_for("ONVIF HTTP ready")
                answers = answers_of(cam.port("onvif"), catcher)
            valid, faults, errors = validate(answers, tmp)
            print(f"{settings}: {valid} answers validated, {len(faults)} faults: {faults}")
            check(not errors, "schema errors:\n" + "\n".join(errors))
            check(valid >= 75, f"too few answers validated: {valid}")
            total += valid
    catcher.shutdown()
    print(f"{total} answers valid against the ONVIF schemas")


if __name__ == "__main__":
    run_main(main)
