// Listens to the camera's motion events with the npm `onvif` client (pull
// point, PullMessages and Renew loop) and prints one JSON line per item:
// {"operation", "name", "value"}. Usage: node onvif_events_client.js HOST PORT
'use strict';
const { Cam } = require('onvif');

const [host, port] = process.argv.slice(2);
const print = (obj) => process.stdout.write(JSON.stringify(obj) + '\n');

const cam = new Cam({ hostname: host, port: Number(port), timeout: 10000 }, (err) => {
  if (err) {
    print({ fatal: String(err.message || err) });
    process.exit(1);
  }
  cam.on('eventsError', (e) => print({ error: String((e && e.message) || e) }));
  cam.on('event', (m) => {
    const msg = m.message.message;
    for (const item of [].concat(msg.data.simpleItem)) {
      print({ operation: msg.$.PropertyOperation, name: item.$.Name, value: String(item.$.Value) });
    }
  });
});
