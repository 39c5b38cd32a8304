// Drives the camera with the npm `onvif` client and prints what it read as
// one JSON line. Usage: node onvif_client.js HOST PORT [USER PASS]
// Each call's error is reported instead of its result, so the caller can
// check refusals as well as answers.
'use strict';
const { Cam } = require('onvif');

const [host, port, username, password] = process.argv.slice(2);

function call(cam, name, ...args) {
  return new Promise((resolve) => {
    cam[name](...args, (err, result, xml) => {
      if (err) resolve({ error: String(err.message || err), xml: xml || '' });
      else resolve({ result });
    });
  });
}

(async () => {
  const cam = new Cam({ hostname: host, port: Number(port), username, password,
                        autoconnect: false, timeout: 10000 });
  const out = {};
  out.time = await call(cam, 'getSystemDateAndTime');
  out.info = await call(cam, 'getDeviceInformation');
  out.capabilities = await call(cam, 'getCapabilities');
  out.services = await call(cam, 'getServices', true);
  out.scopes = await call(cam, 'getScopes');
  out.videoSources = await call(cam, 'getVideoSources');
  out.profiles = await call(cam, 'getProfiles');
  const tokens = Array.isArray(out.profiles.result)
    ? out.profiles.result.map((p) => p.$.token) : ['prof0'];
  out.streams = {};
  out.snapshots = {};
  for (const token of tokens) {
    out.streams[token] = await call(cam, 'getStreamUri', { protocol: 'RTSP', profileToken: token });
    out.snapshots[token] = await call(cam, 'getSnapshotUri', { profileToken: token });
  }
  process.stdout.write(JSON.stringify(out) + '\n');
})().catch((e) => {
  process.stdout.write(JSON.stringify({ fatal: String(e && e.stack || e) }) + '\n');
  process.exit(1);
});
