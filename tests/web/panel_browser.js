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
