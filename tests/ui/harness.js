'use strict';
// Shared setup for the page tests: the system Chromium, the built page loaded as
// one string (as the web view gets it), and a fake window.chrome.webview.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const PAGE_FILE = process.env.VARNHOLT_PAGE || path.join(__dirname, '..', '..', 'build', 'default', 'ui', 'VarnholtUI.html');
const CHROMIUM = process.env.VARNHOLT_CHROMIUM || '/usr/bin/chromium';

// Records every command the page posts and delivers messages the way the
// host does. A listener that throws is recorded, not swallowed.
const FAKE_HOST = `(() => {
  const listeners = [], sent = [], thrown = [];
  window.__vh = {
    sent, thrown,
    deliver(data) {
      for (const fn of listeners.slice()) {
        try { fn({ data }); } catch (e) { thrown.push(String((e && e.stack) || e)); }
      }
    },
  };
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage(msg) { sent.push({ json: JSON.stringify(msg), listeners: listeners.length }); },
    addEventListener(type, fn) { if (type === 'message') listeners.push(fn); },
    removeEventListener(type, fn) { const i = listeners.indexOf(fn); if (i >= 0) listeners.splice(i, 1); },
  };
})();`;

async function launch() {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'varnholt-ui-'));
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: CHROMIUM, headless: true, viewport: { width: 1280, height: 800 }, deviceScaleFactor: 1,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  await context.addInitScript(FAKE_HOST);
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(userDataDir, { recursive: true, force: true });
    },
  };
}

// A fresh page; uncaught page errors and network requests land in the arrays.
async function openPage(browser, { colorScheme = 'light' } = {}) {
  const page = await browser.context.newPage();
  const pageErrors = [];
  const requests = [];
  page.on('pageerror', (err) => pageErrors.push(String(err && err.stack ? err.stack : err)));
  page.on('request', (req) => { if (!/^(about|data):/.test(req.url())) requests.push(req.url()); });
  await page.emulateMedia({ colorScheme });
  await page.setContent(fs.readFileSync(PAGE_FILE, 'utf8'));
  await page.waitForFunction(() => window.__vh.sent.length > 0);
  return { page, pageErrors, requests };
}

const sent = (page) => page.evaluate(() => window.__vh.sent.map((s) => JSON.parse(s.json)));
const sentRaw = (page) => page.evaluate(() => window.__vh.sent.slice());
const clearSent = (page) => page.evaluate(() => { window.__vh.sent.length = 0; });
const thrown = (page) => page.evaluate(() => window.__vh.thrown.slice());
const nextPaint = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

async function deliver(page, msg) {
  await page.evaluate((m) => window.__vh.deliver(m), msg);
  await nextPaint(page);
}

const b64 = (text) => Buffer.from(text, 'utf8').toString('base64');
const unb64 = (text) => Buffer.from(text, 'base64');

const file = (path, heat01, heatCV) => ({ path, name: path.split(/[\\/]/).pop(), heat01, heatCV });
const project = (files, name = 'demo') => ({
  type: 'setProject', projectName: name, totalLOC: 120,
  files: files.map((p, i) => file(p, 1 - i / files.length, 50 - i)),
});

// A setCode message for a text with the given raw per-line heat.
function codeMessage(filePath, text, raw) {
  const cv = Array.from({ length: text.split('\n').length }, (_, i) => raw[i] || 0);
  const ref = Math.max(...cv, 1e-9);
  return {
    type: 'setCode', path: filePath, code_b64: b64(text), lineCV: cv,
    lineHeat: cv.map((v) => Number((Math.log1p(v) / Math.log1p(ref)).toFixed(4))),
    fileHeatCV: Number(cv.reduce((a, b) => a + b, 0).toFixed(2)),
  };
}

module.exports = {
  PAGE_FILE, launch, openPage, sent, sentRaw, clearSent, thrown, deliver, nextPaint, b64, unb64, file, project, codeMessage,
};
