// Drives the web panel with headless Chromium (Debian's build through
// playwright-core): login with the factory credentials, both languages, every
// section, the live preview, the log, 375 px width, logout.
// Usage: node panel_browser.js PORT SHOTS_DIR
const { chromium } = require('playwright-core');
const path = require('path');

const port = process.argv[2];
const shots = process.argv[3];
const base = `http://127.0.0.1:${port}`;
const sections = ['system', 'video', 'events', 'network', 'live', 'users', 'about', 'factory', 'log'];

function check(cond, msg) { if (!cond) throw new Error(msg); }

async function dir(page) { return page.evaluate(() => document.documentElement.dir); }

async function noOverflow(page, what) {
  const w = await page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
  check(w[0] <= w[1], `${what}: page is ${w[0]} px wide in a ${w[1]} px window`);
}

// Average colour of the preview as drawn, once it has loaded.
async function previewColour(page) {
  return page.evaluate(() => {
    const img = document.getElementById('prev');
    if (!img.complete || !img.naturalWidth) return null;
    const c = document.createElement('canvas');
    c.width = 16; c.height = 9;
    const g = c.getContext('2d');
    g.drawImage(img, 0, 0, 16, 9);
    const d = g.getImageData(0, 0, 16, 9).data;
    let r = 0, gg = 0, b = 0;
    for (let i = 0; i < d.length; i += 4) { r += d[i]; gg += d[i + 1]; b += d[i + 2]; }
    return [r, gg, b].map(v => Math.round(v / (d.length / 4))).join(',');
  });
}

// A settings answer shaped like the camera's, served in place of /config.json
// so the form's filling and checks are exercised whatever that route does today.
const sampleConfig = {
  ip: '127.0.0.1', version: '2.0.5 for Windows Server', resolution: '1920x1080', uptime: 3725,
  rtsp_main: 'rtsp://127.0.0.1:554/screenlive', rtsp_sub: 'rtsp://127.0.0.1:554/screensub',
  announce_ip: '', ips: [{ a: '192.168.1.50', l: 'eth0', x: 0 }, { a: '172.17.0.1', l: 'docker0', x: 1 }],
  rtsp_port: 554, onvif_port: 18000, web_port: 13030, web_admin: 1, stream_auth: 0, discovery: 1,
  port_warn_ar: '', port_warn_en: '', fps: 10, bitrate: 2000, stream: 'screenlive', main_width: 0,
  substream: 1, sub_stream: 'screensub', sub_width: 640, sub_bitrate: 512, admin_user: 'admin', paused: 0,
  show_cursor: 0, motion: 1, motion_sens: 5, motion_min: 500, motion_hold: 3000, motion_top: 0,
  motion_bottom: 0, motion_taskbar: 1, motion_corners: 0, mo_enabled: 1, mo_active: 0, mo_testing: 0,
  mo_level: 3, mo_thr: 12, mo_cells: 480, mo_events: 2, mo_capturing: 1, mo_subs: 1, mo_pull_age: 4,
  mo_push_subs: 0, mo_push_age: -1, mo_push_ok: 0, mo_push_fail: 0, device_name: 'Vistrel',
};

async function checkSettingsForm(page) {
  const saved = [];
  await page.route('**/config.json', r => r.fulfill({ contentType: 'application/json', body: JSON.stringify(sampleConfig) }));
  await page.route('**/save', r => { saved.push(r.request().postData()); r.fulfill({ contentType: 'application/json',
    body: '{"ok":true,"needsRestart":true,"pending":false,"holdSeconds":0}' }); });
  await page.reload();
  await page.click('nav button[data-s=video]');
  await waitFor(async () => (await page.inputValue('#fps')) === '10', 'the form to fill');
  check((await page.textContent('#resolution')) === '1920x1080', 'resolution not shown');
  check(await page.isChecked('#substream') && !(await page.isChecked('#show_cursor')), 'switches not filled');
  check((await page.$$('#announce_ip option')).length === 3, 'address list not built from "ips"');
  await page.fill('#fps', '61');
  await page.click('#saveacts button:not(.pri)');
  check((await page.textContent('#msg')).includes('fps'), 'fps 61 was not refused');
  await page.fill('#fps', '12');
  await page.fill('#main_width', '321');
  await page.click('#saveacts button:not(.pri)');
  check((await page.textContent('#msg')).includes('main_width'), 'odd main_width was not refused');
  await page.fill('#main_width', '0');
  await page.click('nav button[data-s=network]');
  await page.fill('#onvif_port', '554');
  await page.click('#saveacts button:not(.pri)');
  check(saved.length === 0, 'an invalid form was posted');
  await page.fill('#onvif_port', '18000');
  await page.click('#saveacts button:not(.pri)');
  await waitFor(async () => saved.length === 1, 'the save');
  const form = new URLSearchParams(saved[0]);
  check(form.get('fps') === '12' && form.get('main_width') === '0' && form.get('substream') === '1' &&
        form.get('show_cursor') === '0' && form.get('device_name') === 'Vistrel' && form.get('announce_ip') === '' &&
        !form.has('admin_pass'), 'save form: ' + saved[0]);
  await page.click('nav button[data-s=events]');
  await waitFor(async () => (await page.textContent('#mo_level')) === '3 / 12', 'the motion state');
  await page.unroute('**/config.json');
  await page.unroute('**/save');
}

async function waitFor(fn, what, ms = 30000) {
  const end = Date.now() + ms;
  for (;;) {
    const v = await fn();
    if (v) return v;
    check(Date.now() < end, `timed out waiting for ${what}`);
    await new Promise(r => setTimeout(r, 200));
  }
}

(async () => {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  try {
    const ctx = await browser.newContext({ viewport: { width: 1280, height: 860 } });
    const page = await ctx.newPage();
    await page.goto(`${base}/login`);
    check(await dir(page) === 'rtl', 'login page not right-to-left by default');
    check(await page.isVisible('.hint'), 'first-time hint not shown');
    check(!(await page.isVisible('#err')), 'error line shown without an error');
    await page.screenshot({ path: path.join(shots, 'login_ar.png') });
    await page.click('button.lang');
    check(await dir(page) === 'ltr', 'login page not left-to-right in English');
    await page.screenshot({ path: path.join(shots, 'login_en.png') });
    await page.click('text=Forgot the password?');
    check(await page.isVisible('#rec img'), 'recovery block does not open');
    await page.screenshot({ path: path.join(shots, 'login_recovery_en.png') });
    await page.click('button.lang');  // back to Arabic for the panel

    await page.fill('#user', 'admin');
    await page.fill('#pass', 'wrong');
    await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
    check(await page.isVisible('#err'), 'error line hidden after a wrong password');
    await page.fill('#user', 'admin');
    await page.fill('#pass', 'tolvu');
    await Promise.all([page.waitForURL(`${base}/`), page.click('button[type=submit]')]);
    check(await dir(page) === 'rtl', 'panel not right-to-left by default');
    check((await page.textContent('nav button[data-s=system]')) === 'النظام', 'panel not in Arabic');
    await checkSettingsForm(page);
    await page.screenshot({ path: path.join(shots, 'panel_ar.png'), fullPage: true });

    await page.click('#langb');
    check(await dir(page) === 'ltr', 'panel not left-to-right in English');
    check((await page.textContent('nav button[data-s=system]')) === 'System', 'panel not in English');
    for (const s of sections) {
      await page.click(`nav button[data-s=${s}]`);
      check(await page.isVisible(`#s_${s}`), `section ${s} does not open`);
    }
    await page.click('nav button[data-s=network]');
    await page.screenshot({ path: path.join(shots, 'panel_en.png'), fullPage: true });

    await page.click('nav button[data-s=live]');
    const first = await waitFor(() => previewColour(page), 'the first preview');
    await waitFor(async () => { const c = await previewColour(page); return c && c !== first; },
                  'the preview to change', 45000);
    await page.screenshot({ path: path.join(shots, 'panel_live_en.png') });

    await page.click('nav button[data-s=log]');
    await waitFor(async () => (await page.textContent('#logt')).includes('Web Admin ready'), 'the log');

    await page.setViewportSize({ width: 375, height: 740 });
    for (const s of sections) {
      await page.click(`nav button[data-s=${s}]`);
      await noOverflow(page, `section ${s} at 375 px`);
    }
    await page.click('nav button[data-s=video]');
    await page.screenshot({ path: path.join(shots, 'panel_375_en.png'), fullPage: true });
    await page.click('#langb');
    await page.click('nav button[data-s=network]');
    await noOverflow(page, 'Arabic network section at 375 px');
    await page.screenshot({ path: path.join(shots, 'panel_375_ar.png'), fullPage: true });

    await Promise.all([page.waitForURL(`${base}/login`), page.click('header button.warn')]);
    await noOverflow(page, 'login page at 375 px');
    await page.screenshot({ path: path.join(shots, 'login_375_ar.png') });
    const r = await page.request.get(`${base}/config.json`);
    check(r.status() === 401, `after logout /config.json answers ${r.status()}`);
    console.log('BROWSER OK');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error(e); process.exit(1); });
