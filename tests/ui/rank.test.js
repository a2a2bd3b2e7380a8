'use strict';
// What the page ranks and shows first: its default scope, density, the audit's cap, hot regions, deep paths, start-up.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const rows = (page, sel, cols) => page.$$eval(sel, (rs, c) => rs.filter((r) => r.style.display !== 'none').map((r) => c.map((k) => r.cells ? r.cells[k].textContent : r.querySelector(k).textContent)), cols);

test('code only by default; density ranks a one-line file below a dense one, in the list and the table; the audit cap', async () => {
  const { page } = await h.openPage(browser);
  const files = [['big.c', 2000, 5000], ['dense.c', 500, 60], ['doc.txt', 3000, 10], ['tiny.c', 15, 1]];
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 32938270, files: files.map(([n, cv]) => h.file('/p/' + n, cv / 3000, cv)) });
  await h.deliver(page, { type: 'setFileLines', lines: files.map((f) => f[2]) });
  await h.deliver(page, { type: 'setScopeInfo', folderName: 'p', notCode: ['/p/doc.txt'], testOrGenerated: [] });
  assert.match(await page.textContent('#projStats'), /32,938,270 lines/);
  assert.deepEqual(await rows(page, '#list .row', ['.n', '.cv']), [['big.c', '2,000.00'], ['dense.c', '500.00'], ['tiny.c', '15.00']]);
  await page.click('#rankDensity');  // per line alone tiny.c (15) would lead; over at least 50 lines it has 0.30
  assert.deepEqual(await rows(page, '#list .row', ['.n', '.cv']), [['dense.c', '8.33'], ['big.c', '0.40'], ['tiny.c', '0.30']]);
  assert.equal(await page.$eval('#list .row .bar i', (i) => i.style.width), '100%', 'the densest file in scope fills its bar');

  await page.keyboard.press('o');
  await page.click('#mapAsTable');
  await page.click('#mapTable th:nth-child(5) button');
  assert.deepEqual(await rows(page, '#mapTable tbody tr', [0, 4]), [['dense.c', '8.33'], ['big.c', '0.40'], ['tiny.c', '0.30']]);
  await h.clearSent(page);
  await page.click('#mapTable tbody tr:first-child');
  await page.keyboard.press('a');
  await page.click('#btnAuditCap');
  assert.deepEqual(await h.sent(page), [{ type: 'selectFile', path_b64: h.b64('/p/dense.c') }, { type: 'requestAudit', scope: 'code' },
    { type: 'requestAudit', scope: 'code', perFile: '3' }]);
  await page.close();
});

test('[ and ] stop once per run of lines at or above the 90th percentile; a deep path keeps its file name whole', async () => {
  const { page } = await h.openPage(browser);
  const dir = 'drivers/net/ethernet/mellanox/mlx5/core/steering/', name = 'dr_ste_v1_long_name.c';
  await h.deliver(page, h.project(['/k/' + dir + name, '/k/Makefile']));
  await page.click('#list .row');
  const raw = Array(20).fill(1);
  [raw[1], raw[2], raw[3], raw[8]] = [50, 60, 55, 70];  // the 90th percentile is 55
  await h.deliver(page, h.codeMessage('/k/' + dir + name, Array(20).fill('x').join('\n'), raw));
  await page.click('#code .cl[data-line="1"]');
  const seen = [];
  for (const key of [']', ']', ']']) { await page.keyboard.press(key); seen.push(await page.textContent('#status')); }
  assert.deepEqual(seen.map((s) => s.split(' \u00b7')[0]), ['Hot spot at line 3\u20134', 'Hot spot at line 9', 'Wrapped to the first hot spot: line 3\u20134']);

  await page.evaluate(() => document.documentElement.style.setProperty('--list-w', '420px'));
  await h.nextPaint(page);
  const row = await page.$eval('#list .row', (r) => {
    const [d, n, p] = ['.d', '.n', '.rpath'].map((s) => r.querySelector(s));
    const [bd, bn, bp] = [d, n, p].map((e) => e.getBoundingClientRect());
    return { d: d.textContent, n: n.textContent, fits: n.scrollWidth <= n.clientWidth && bn.right <= bp.right + 0.5 && bd.left >= bp.left && bd.right <= bn.left + 0.5 };
  });
  assert.deepEqual(row, { d: 'drivers/\u2026steering/', n: name, fits: true });
  await page.close();
});

test('start-up: the folder being analysed shows from its first message, and the footer never says Ready meanwhile', async () => {
  const { page } = await h.openPage(browser);
  assert.notEqual(await page.textContent('#status'), 'Ready');
  await h.deliver(page, { type: 'setProgress', state: 'busy', done: 0, total: 0, folderName: 'linux' });
  await page.waitForTimeout(500);  // past the wait for a first message
  await h.deliver(page, { type: 'setProgress', state: 'busy', done: 1200, total: 78130 });
  assert.deepEqual(await Promise.all(['#busyName', '#busyCount', '#status'].map((s) => page.textContent(s))), ['Analysing linux', '1,200 of 78,130 files', '']);
  assert.equal(await page.isVisible('#btnOpenBig'), false);
  await h.deliver(page, { type: 'setProgress', state: 'idle' });
  assert.equal(await page.isVisible('#btnOpenBig'), true);
  // Without a folder the program says nothing: the welcome card and "Ready" come after a moment.
  const { page: quiet } = await h.openPage(browser);
  await quiet.waitForFunction(() => document.getElementById('status').textContent === 'Ready');
  assert.equal(await quiet.isVisible('#btnOpenBig'), true);
  await page.close();
  await quiet.close();
});
