'use strict';
// What the page sends to the host: the start-up handshake and every command's payload.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const project = (files, name = 'demo') => ({
  type: 'setProject', projectName: name, totalLOC: 120,
  files: files.map((p, i) => ({ path: p, name: p.split(/[\\/]/).pop(), heat01: 1 - i / files.length, heatCV: 50 - i })),
});

// Every command is a JSON object with a "type" and ASCII-only string members.
function assertWellFormed(raw) {
  for (const { json } of raw) {
    assert.match(json, /^[\x20-\x7e]*$/, `non-ASCII command: ${json.slice(0, 80)}`);
    const obj = JSON.parse(json);
    assert.equal(typeof obj.type, 'string');
    for (const [k, v] of Object.entries(obj)) {
      assert.equal(typeof v, 'string', `member ${k} is not a string`);
      if (k !== 'type') assert.match(k, /_b64$/, `member ${k} should carry Base64`);
    }
  }
}

test('start-up: one uiReady after the listener is registered, no network, no outside resources', async () => {
  const { page, pageErrors, requests } = await h.openPage(browser);
  await page.waitForTimeout(300);
  const raw = await h.sentRaw(page);
  assert.deepEqual(raw.map((r) => JSON.parse(r.json)), [{ type: 'uiReady' }]);
  assert.ok(raw[0].listeners >= 1, 'uiReady was sent before the page listened for messages');
  assert.deepEqual(requests, []);
  assert.deepEqual(pageErrors, []);
  // The web view gets the page as one string: nothing may point outside it.
  const html = fs.readFileSync(h.PAGE_FILE, 'utf8');
  const outside = html.match(/<script[^>]+src=|<link\b|<img\b|@import|\burl\(|https?:\/\//gi);
  assert.equal(outside, null, `references outside the page: ${outside}`);
  // The empty state invites opening a folder.
  assert.ok(await page.isVisible('#btnOpenBig'));
  assert.ok(await page.isDisabled('#btnAudit'));
  await page.close();
});

test('a host bridge that shows up late still gets exactly one uiReady', async () => {
  const page = await browser.context.newPage();
  await page.evaluate(() => {
    const bridge = window.chrome.webview;
    delete window.chrome.webview;
    setTimeout(() => { window.chrome.webview = bridge; }, 350);
  });
  await page.setContent(fs.readFileSync(h.PAGE_FILE, 'utf8'));
  await page.waitForFunction(() => window.__vh.sent.length > 0);
  await page.waitForTimeout(400);
  assert.deepEqual(await h.sent(page), [{ type: 'uiReady' }]);
  await page.close();
});

test('pickFolder, requestAudit and quitApp from buttons and keys', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.clearSent(page);
  await page.click('#btnOpenBig');
  await page.keyboard.press('Control+o');
  await h.deliver(page, project(['/p/a.c']));
  await page.click('#btnOpen');
  await page.click('#btnAudit');
  await page.click('#tabCode');
  await page.keyboard.press('a');
  await page.keyboard.press('Control+q');
  const cmds = await h.sent(page);
  assert.deepEqual(cmds.map((c) => c.type),
    ['pickFolder', 'pickFolder', 'pickFolder', 'requestAudit', 'requestAudit', 'quitApp']);
  assertWellFormed(await h.sentRaw(page));
  // Typing in the filter is not a shortcut.
  await h.clearSent(page);
  await page.keyboard.press('/');
  await page.keyboard.type('a');
  assert.deepEqual(await h.sent(page), []);
  assert.equal(await page.inputValue('#filter'), 'a');
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('selectFile carries the path exactly as received, byte for byte', async () => {
  const paths = ['/tmp/prøve/ünï.c', 'C:\\Users\\Åsa\\src\\mäin.c', '/tmp/日本/コード.py', '/tmp/emoji/\u{1F525}.js',
    '/tmp/q/"quoted" \\ back.c'];
  const { page, pageErrors } = await h.openPage(browser);
  for (const p of paths) {
    await h.deliver(page, project([p]));
    await h.clearSent(page);
    await page.click('#list .row[aria-posinset="1"]');
    const raw = await h.sentRaw(page);
    assertWellFormed(raw);
    const cmd = JSON.parse(raw[0].json);
    assert.equal(cmd.type, 'selectFile');
    assert.deepEqual(h.unb64(cmd.path_b64), Buffer.from(p, 'utf8'), `path ${p}`);
  }
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('a click deep in a scrolled list opens the row under the pointer', async () => {
  const { page } = await h.openPage(browser);
  const paths = Array.from({ length: 300 }, (_, i) => `/p/f${String(i).padStart(3, '0')}.c`);
  await h.deliver(page, project(paths));
  await page.evaluate(() => { document.getElementById('list').scrollTop = 150 * 26; });
  await h.nextPaint(page);
  await h.clearSent(page);
  const row = page.locator('#list .row[aria-posinset="155"]');
  const want = await row.getAttribute('data-path');
  await row.click();
  const [cmd] = await h.sent(page);
  assert.equal(h.unb64(cmd.path_b64).toString(), want);
  assert.equal(want, paths[154]);
  await page.close();
});

test('keyboard: / filters, arrows move, Enter opens the file under the cursor', async () => {
  const { page } = await h.openPage(browser);
  await h.deliver(page, project(['/p/src/hot.c', '/p/src/warm.c', '/p/lib/cool.c', '/p/lib/cold.c']));
  await h.clearSent(page);
  await page.keyboard.press('/');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'filter');
  await page.keyboard.type('lib');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Enter');
  await page.keyboard.press('Escape');          // clears the filter
  assert.equal(await page.inputValue('#filter'), '');
  await page.keyboard.press('Escape');          // then leaves it for the list
  assert.equal(await page.evaluate(() => document.activeElement.id), 'list');
  await page.keyboard.press('End');
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('Enter');
  const opened = (await h.sent(page)).map((c) => h.unb64(c.path_b64).toString());
  // "lib" matches cool.c and cold.c; the cursor starts on the first match.
  assert.deepEqual(opened, ['/p/lib/cold.c', '/p/lib/cool.c']);
  await page.close();
});

test('savePng: a real PNG of the window with the heat colours, and a meaningful name', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const file = '/tmp/prøve/ünï.c';
  await h.deliver(page, project([file, '/tmp/prøve/b.c'], 'prøve'));
  await page.click('#list .row[aria-posinset="1"]');
  const text = Array.from({ length: 60 }, (_, i) => `line ${i + 1}`).join('\n');
  await h.deliver(page, h.codeMessage(file, text, Array.from({ length: 60 }, (_, i) => i % 7)));
  await h.clearSent(page);
  await page.click('#btnSnap');
  const raw = await h.sentRaw(page);
  assertWellFormed(raw);
  const cmd = JSON.parse(raw[0].json);
  assert.equal(cmd.type, 'savePng');
  const png = h.unb64(cmd.png_b64);
  const info = h.pngInfo(png);
  assert.ok(info.signatureOk, 'PNG signature');
  assert.equal(info.firstChunk, 'IHDR');
  assert.deepEqual([info.width, info.height], [1280, 800]);
  assert.equal(h.unb64(cmd.name_b64).toString('utf8'), 'Varnholt_prøve_code_ünï.c.png');

  // Read the image back: the first file row's heat bar must sit where the page shows it, in its colour.
  const check = await page.evaluate(async (b64) => {
    const img = new Image();
    img.src = 'data:image/png;base64,' + b64;
    await img.decode();
    const c = document.createElement('canvas');
    c.width = img.width; c.height = img.height;
    const ctx = c.getContext('2d');
    ctx.drawImage(img, 0, 0);
    const bar = document.querySelector('#list .row[aria-posinset="1"] .bar > i');
    const r = bar.getBoundingClientRect();
    const px = ctx.getImageData(Math.round(r.left + 4), Math.round(r.top + r.height / 2), 1, 1).data;
    const want = getComputedStyle(bar).backgroundColor.match(/\d+/g).map(Number);
    const colours = new Set();
    const all = ctx.getImageData(0, 0, c.width, c.height).data;
    for (let i = 0; i < all.length; i += 4 * 97) colours.add((all[i] << 16) | (all[i + 1] << 8) | all[i + 2]);
    return { got: [px[0], px[1], px[2]], want, colours: colours.size };
  }, cmd.png_b64);
  for (let k = 0; k < 3; k++) assert.ok(Math.abs(check.got[k] - check.want[k]) <= 3, `bar colour ${check.got} vs ${check.want}`);
  assert.ok(check.colours > 20, `snapshot looks blank (${check.colours} colours)`);

  // Audit view gives its own name; characters that file systems refuse are replaced.
  await h.deliver(page, project(['/x/a.c'], 'we<ird>:na|me?'));
  await page.keyboard.press('a');
  await h.deliver(page, { type: 'setAudit', hint: 'h', items: [] });
  await h.clearSent(page);
  await page.keyboard.press('Control+s');
  const [audit] = await h.sent(page);
  assert.equal(h.unb64(audit.name_b64).toString('utf8'), 'Varnholt_we_ird_na_me_audit.png');
  assert.ok(h.pngInfo(h.unb64(audit.png_b64)).signatureOk);
  assert.deepEqual(pageErrors, []);
  await page.close();
});
