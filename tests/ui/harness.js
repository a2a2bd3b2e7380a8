'use strict';
// Shared setup for the page tests: the system Chromium, the page loaded as one
// string (as the web view gets it), and a fake window.chrome.webview.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const PAGE_FILE = path.join(__dirname, '..', '..', 'ui', 'VarnholtUI.html');
const CHROMIUM = process.env.VARNHOLT_CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// Records every command the page posts and lets a test deliver messages the
// way the host does. A listener that throws is recorded, not swallowed.
const FAKE_HOST = `(() => {
  const listeners = [];
  const sent = [];
  const thrown = [];
  window.__vh = {
    sent, thrown,
    listenerCount: () => listeners.length,
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
    executablePath: CHROMIUM,
    headless: true,
    args: CHROMIUM_ARGS,
    viewport: { width: 1280, height: 800 },
    deviceScaleFactor: 1,
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

// Opens a fresh page; every uncaught page error and every network request lands
// in the returned arrays so tests can assert that there were none.
async function openPage(browser, { colorScheme = 'light', viewport } = {}) {
  const page = await browser.context.newPage();
  const pageErrors = [];
  const requests = [];
  page.on('pageerror', (err) => pageErrors.push(String(err && err.stack ? err.stack : err)));
  page.on('request', (req) => { if (!/^(about|data):/.test(req.url())) requests.push(req.url()); });
  if (viewport) await page.setViewportSize(viewport);
  await page.emulateMedia({ colorScheme });
  await page.setContent(fs.readFileSync(PAGE_FILE, 'utf8'));
  await page.waitForFunction(() => window.__vh.sent.length > 0);
  return { page, pageErrors, requests };
}

const sent = (page) => page.evaluate(() => window.__vh.sent.map((s) => JSON.parse(s.json)));
const sentRaw = (page) => page.evaluate(() => window.__vh.sent.slice());
const clearSent = (page) => page.evaluate(() => { window.__vh.sent.length = 0; });
const thrown = (page) => page.evaluate(() => window.__vh.thrown.slice());

async function deliver(page, msg) {
  await page.evaluate((m) => window.__vh.deliver(m), msg);
  await nextPaint(page);
}

const nextPaint = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));

const b64 = (text) => Buffer.from(text, 'utf8').toString('base64');
const unb64 = (text) => Buffer.from(text, 'base64');

// ---- message data
function percentileRef(values, floor) {
  if (!values.length) return 1;
  const s = values.slice().sort((a, b) => a - b);
  return Math.max(s[Math.floor(((s.length - 1) * 95) / 100)], floor);
}

// A setCode message for a text with the given raw per-line heat.
function codeMessage(filePath, text, raw) {
  const n = text.split('\n').length;
  const cv = Array.from({ length: n }, (_, i) => raw[i] || 0);
  const ref = percentileRef(cv.filter((v) => v > 0), 1e-9);
  const heat = cv.map((v) => Math.min(1, Math.max(0, Math.log1p(v) / Math.log1p(ref))));
  return {
    type: 'setCode', path: filePath, code_b64: b64(text),
    lineHeat: heat.map((v) => Number(v.toFixed(4))), lineCV: cv,
    fileHeatCV: Number(cv.reduce((a, b) => a + b, 0).toFixed(2)),
  };
}

// PNG header: signature, then the IHDR chunk with width and height.
function pngInfo(buf) {
  const sig = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  return {
    signatureOk: buf.length >= 24 && buf.subarray(0, 8).equals(sig),
    firstChunk: buf.length >= 16 ? buf.subarray(12, 16).toString('latin1') : '',
    width: buf.length >= 24 ? buf.readUInt32BE(16) : -1,
    height: buf.length >= 24 ? buf.readUInt32BE(20) : -1,
  };
}

module.exports = {
  PAGE_FILE, launch, openPage, sent, sentRaw, clearSent, thrown, deliver, nextPaint,
  b64, unb64, percentileRef, codeMessage, pngInfo,
};
