'use strict';
// What the page sends to the host: the start-up handshake and every command's payload.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

// Every command is a JSON object with a "type" and ASCII-only Base64 string members.
async function commands(page) {
  const raw = await h.sentRaw(page);
  for (const { json } of raw) {
    assert.match(json, /^[\x20-\x7e]*$/, `non-ASCII command: ${json.slice(0, 80)}`);
    for (const [k, v] of Object.entries(JSON.parse(json))) {
      assert.equal(typeof v, 'string', `member ${k} is not a string`);
      if (k !== 'type' && k !== 'scope') assert.match(k, /_b64$/);
    }
  }
  return raw.map((r) => JSON.parse(r.json));
}

test('start-up: one uiReady once the page listens, also for a late bridge; nothing outside the page', async () => {
  const { page, pageErrors, requests } = await h.openPage(browser);
  await page.waitForTimeout(300);
  const raw = await h.sentRaw(page);
  assert.deepEqual(raw.map((r) => JSON.parse(r.json)), [{ type: 'uiReady' }]);
  assert.ok(raw[0].listeners >= 1, 'uiReady was sent before the page listened for messages');
  assert.deepEqual(requests, []);
  assert.deepEqual(pageErrors, []);
  const outside = fs.readFileSync(h.PAGE_FILE, 'utf8').match(/<script[^>]+src=|<link\b|<img\b|@import|\burl\(|https?:\/\//gi);
  assert.equal(outside, null, `references outside the page: ${outside}`);
  await page.close();

  const late = await browser.context.newPage();
  await late.evaluate(() => {
    const bridge = window.chrome.webview;
    delete window.chrome.webview;
    setTimeout(() => { window.chrome.webview = bridge; }, 350);
  });
  await late.setContent(fs.readFileSync(h.PAGE_FILE, 'utf8'));
  await late.waitForFunction(() => window.__vh.sent.length > 0);
  await late.waitForTimeout(400);
  assert.deepEqual(await h.sent(late), [{ type: 'uiReady' }]);
  await late.close();
});

test('buttons and keys: pickFolder, requestAudit, quitApp; typing in the filter is no shortcut', async () => {
  const { page } = await h.openPage(browser);
  assert.ok(await page.isDisabled('#btnAudit'));
  await h.clearSent(page);
  await page.click('#btnOpenBig');
  await page.keyboard.press('Control+o');
  await h.deliver(page, h.project(['/p/a.c']));
  await page.click('#btnOpen');
  await page.click('#btnAudit');
  await page.click('#tabCode');
  await page.keyboard.press('a');
  await page.keyboard.press('Control+q');
  await page.keyboard.press('/');
  await page.keyboard.type('a');
  assert.deepEqual((await commands(page)).map((c) => c.type),
    ['pickFolder', 'pickFolder', 'pickFolder', 'requestAudit', 'requestAudit', 'quitApp']);
  assert.equal(await page.inputValue('#filter'), 'a');
  await page.close();
});

test('selectFile carries the path byte for byte, by click, deep in a scrolled list, or by keys', async () => {
  const { page } = await h.openPage(browser);
  const opened = async () => (await commands(page)).map((c) => h.unb64(c.path_b64).toString('utf8'));
  for (const p of ['/tmp/prøve/ünï.c', 'C:\\Users\\Åsa\\mäin.c', '/tmp/日本/コード.py', '/tmp/\u{1F525}.js', '/tmp/q/"q" \\ <b>.c']) {
    await h.deliver(page, h.project([p]));
    await h.clearSent(page);
    await page.click('#list .row[aria-posinset="1"]');
    assert.deepEqual(await opened(), [p]);
  }
  const paths = Array.from({ length: 300 }, (_, i) => `/p/f${String(i).padStart(3, '0')}.c`);
  await h.deliver(page, h.project(paths));
  await page.evaluate(() => { document.getElementById('list').scrollTop = 150 * 26; });
  await h.nextPaint(page);
  await h.clearSent(page);
  await page.click('#list .row[aria-posinset="155"]');
  assert.deepEqual(await opened(), [paths[154]]);

  // "/" filters ("lib" matches cool.c and cold.c); the first Down enters the list on cool.c, the next
  // reaches cold.c, Enter opens; Escape in the filter clears it and leaves for the list.
  await h.deliver(page, h.project(['/p/src/hot.c', '/p/src/warm.c', '/p/lib/cool.c', '/p/lib/cold.c']));
  await h.clearSent(page);
  for (const key of ['/', 'l', 'i', 'b', 'ArrowDown', 'ArrowDown', 'Enter', '/', 'Escape', 'End', 'ArrowUp', 'Enter']) await page.keyboard.press(key);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'list');
  assert.deepEqual(await opened(), ['/p/lib/cold.c', '/p/lib/cool.c']);
  await page.close();
});

test('savePng: a PNG of the window with the heat colours, under a safe meaningful name', async () => {
  const { page } = await h.openPage(browser);
  const file = '/tmp/prøve/ünï.c';
  await h.deliver(page, h.project([file, '/tmp/prøve/b.c'], 'prøve'));
  await page.click('#list .row[aria-posinset="1"]');
  await h.deliver(page, h.codeMessage(file, 'a\nb\nc', [0, 3, 1]));
  await h.clearSent(page);
  await page.click('#btnSnap');
  const [cmd] = await commands(page);
  assert.equal(cmd.type, 'savePng');
  assert.equal(h.unb64(cmd.name_b64).toString('utf8'), 'Varnholt_prøve_code_ünï.c.png');
  // Read back: the first row's heat bar is in the image where the page shows it, in its colour.
  const check = await page.evaluate(async (b64) => {
    const img = new Image();
    img.src = 'data:image/png;base64,' + b64;
    await img.decode();
    const ctx = Object.assign(document.createElement('canvas'), { width: img.width, height: img.height }).getContext('2d');
    ctx.drawImage(img, 0, 0);
    const bar = document.querySelector('#list .row[aria-posinset="1"] .bar > i'), r = bar.getBoundingClientRect();
    const px = ctx.getImageData(Math.round(r.left + 4), Math.round(r.top + r.height / 2), 1, 1).data;
    return { size: [img.width, img.height], got: [...px.slice(0, 3)], want: getComputedStyle(bar).backgroundColor.match(/\d+/g).map(Number) };
  }, cmd.png_b64);
  assert.deepEqual(check.size, [1280, 800]);
  check.got.forEach((v, k) => assert.ok(Math.abs(v - check.want[k]) <= 3, `bar colour ${check.got} vs ${check.want}`));

  await h.deliver(page, h.project(['/x/a.c'], 'we<ird>:na|me?'));
  await page.keyboard.press('a');
  await h.deliver(page, { type: 'setAudit', hint: 'h', items: [] });
  await h.clearSent(page);
  await page.keyboard.press('Control+s');
  const [audit] = await commands(page);
  assert.equal(h.unb64(audit.name_b64).toString('utf8'), 'Varnholt_we_ird_na_me_audit.png');
  await page.close();
});

test('scope: the list narrows, the choice outlives a rescan, requestAudit names it; the header names the folder', async () => {
  const { page } = await h.openPage(browser);
  const paths = ['/w/go/a.go', '/w/go/a_test.go', '/w/go/README'];
  const info = { type: 'setScopeInfo', folderName: 'go', notCode: ['/w/go/README'], testOrGenerated: ['/w/go/a_test.go'] };
  const shown = () => page.$$eval('#list .row', (rows) => rows.filter((r) => r.style.display !== 'none').map((r) => r.dataset.path).sort());
  for (const m of [h.project(paths, 'Varnholt'), info]) await h.deliver(page, m);
  assert.equal(await page.textContent('#projName'), 'go');
  await page.selectOption('#scope', 'code');
  assert.deepEqual(await shown(), ['/w/go/a.go', '/w/go/a_test.go']);
  await page.selectOption('#scope', 'nontest');
  await h.deliver(page, h.project([...paths, '/w/go/b_test.go'], 'Varnholt'));
  await h.deliver(page, { ...info, testOrGenerated: ['/w/go/a_test.go', '/w/go/b_test.go'] });
  assert.deepEqual(await shown(), ['/w/go/a.go']);
  await h.clearSent(page);
  await page.keyboard.press('a');
  await page.selectOption('#scope', 'all');
  assert.deepEqual(await commands(page), [{ type: 'requestAudit', scope: 'nontest' }, { type: 'requestAudit' }]);
  await page.close();
});
