"""The camera as a recorder sees it: the npm `onvif` client reads identity,
capabilities, services, profiles, video sources, stream and snapshot
addresses; ffprobe plays the stream addresses; the snapshot is a JPEG of the
main stream's size. Then with stream_auth = 1: open actions answer without
credentials, the video-revealing ones and the events subscriptions get 401 +
NotAuthorized, and both WS-Security (the onvif client) and HTTP Digest
(urllib, curl) get through."""

import subprocess
import urllib.request

from camera import Camera, Xvfb, check, parse_args, run_main
from onvif_e2e_common import http_exchange, onvif_client, probe_stream, soap_post

SCREEN = (1280, 720)
JPEG = f"mjpeg,{SCREEN[0]},{SCREEN[1]}"


def tokens(report):
    return [p["$"]["token"] for p in report["profiles"]["result"]]


def open_camera(args, display):
    with Camera(args.bin, display=display, settings={"log_verbose": 1}) as cam:
        cam.wait_for("ONVIF HTTP ready")
        port, rtsp = cam.port("onvif"), cam.port("rtsp")
        rep = onvif_client(port)
        info = rep["info"]["result"]
        check(info["manufacturer"] == "Orvanta" and info["serialNumber"].startswith("ZEB-")
              and info["hardwareId"] == info["serialNumber"], f"identity {info}")
        check(cam.output.count("  ONVIF id  : urn:uuid:") == 1, "banner has the device id")
        caps = rep["capabilities"]["result"]
        check(caps["media"]["XAddr"] == f"http://127.0.0.1:{port}/onvif/media_service", f"caps {caps}")
        check(len(rep["services"]["result"]) == 4, "four services")
        srcs = rep["videoSources"]["result"]
        check(srcs[0]["resolution"] == {"width": SCREEN[0], "height": SCREEN[1]}, f"sources {srcs}")
        check(tokens(rep) == ["prof0", "prof1"], f"profiles {rep['profiles']}")
        for token, path, size in (("prof0", "screenlive", SCREEN), ("prof1", "screensub", (640, 360))):
            uri = rep["streams"][token]["result"]["uri"]
            check(uri == f"rtsp://127.0.0.1:{rtsp}/{path}", f"{token} stream address {uri}")
            check(probe_stream(uri) == f"h264,{size[0]},{size[1]}", f"{uri} plays")
        snap_uri = rep["snapshots"]["prof0"]["result"]["uri"]
        check(snap_uri == f"http://127.0.0.1:{port}/onvif/snapshot", snap_uri)
        with urllib.request.urlopen(snap_uri, timeout=20) as r:
            check(r.headers["Content-Type"] == "image/jpeg", "snapshot type")
            check(probe_stream("", r.read()) == JPEG, "snapshot is a JPEG of the main stream's size")
        unsupported = soap_post(port, '<tptz:ContinuousMove xmlns:tptz="urn:x"/>').decode()
        check("ter:ActionNotSupported" in unsupported, "unsupported action fault")
        cam.wait_for("ONVIF: unsupported action 'ContinuousMove' -> ActionNotSupported")
        return info["serialNumber"]


def protected_camera(args, display, serial):
    settings = {"stream_auth": 1, "admin_user": "admin", "admin_pass": "Pw-7x!", "substream": 0}
    with Camera(args.bin, display=display, settings=settings) as cam:
        cam.wait_for("ONVIF HTTP ready")
        port = cam.port("onvif")
        anon = onvif_client(port)
        for name in ("time", "info", "capabilities", "services", "scopes"):
            check("result" in anon[name], f"{name} open without credentials: {anon[name]}")
        check(anon["info"]["result"]["serialNumber"] == serial, "same identity in every run")
        check("error" in anon["profiles"], "profiles refused without credentials")
        for action in ("<trt:GetProfiles/>", "<trt:GetStreamUri/>", "<trt:GetSnapshotUri/>",
                       "<tev:CreatePullPointSubscription/>", "<wsnt:Subscribe/>"):
            a = soap_post(port, action).decode()
            check(a.startswith("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Vistrel\"")
                  and "ter:NotAuthorized" in a, f"{action} refused: {a[:200]}")
        check("error" in onvif_client(port, "admin", "wrong")["profiles"], "wrong password refused")

        # WS-Security UsernameToken (digest form) from the onvif client.
        ok = onvif_client(port, "admin", "Pw-7x!")
        check(tokens(ok) == ["prof0"], f"one profile: {ok['profiles']}")
        check(ok["streams"]["prof0"]["result"]["uri"].endswith("/screenlive"), "stream uri")
        check("result" in ok["snapshots"]["prof0"], "snapshot uri")

        # HTTP Digest: urllib answers the 401 challenge of a SOAP request, curl
        # those of a SOAP request (its first POST goes without a body, which must
        # be challenged too) and of the snapshot.
        mgr = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        mgr.add_password(None, f"http://127.0.0.1:{port}/", "admin", "Pw-7x!")
        opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(mgr))
        req = urllib.request.Request(
            f"http://127.0.0.1:{port}/onvif/media_service",
            data=b'<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>'
                 b'<trt:GetProfiles xmlns:trt="http://www.onvif.org/ver10/media/wsdl"/></s:Body></s:Envelope>',
            headers={"Content-Type": "application/soap+xml"})
        with opener.open(req, timeout=20) as r:
            out = r.read().decode()
        check("<trt:GetProfilesResponse>" in out, f"HTTP Digest admitted: {out[:300]}")
        soap = subprocess.run(["curl", "-s", "--digest", "-u", "admin:Pw-7x!", "-H",
                               "Content-Type: application/soap+xml", "--data-binary", "@-",
                               f"http://127.0.0.1:{port}/onvif/media_service"],
                              input=req.data, capture_output=True, timeout=30).stdout.decode()
        check("<trt:GetProfilesResponse>" in soap, f"curl --digest SOAP admitted: {soap[:300]}")
        snap = subprocess.run(["curl", "-s", "--digest", "-u", "admin:Pw-7x!",
                               f"http://127.0.0.1:{port}/onvif/snapshot"],
                              capture_output=True, timeout=30).stdout
        check(probe_stream("", snap) == JPEG, "digest snapshot")
        raw = http_exchange(port, b"GET /onvif/snapshot HTTP/1.1\r\n\r\n").decode("latin-1")
        check(raw.startswith("HTTP/1.1 401 Unauthorized"), "snapshot without credentials")


def main():
    args = parse_args()
    with Xvfb(*SCREEN) as x:
        serial = open_camera(args, x.display)
        protected_camera(args, x.display, serial)


if __name__ == "__main__":
    run_main(main)
