'use strict';
// What the page ranks and shows first: the scope it starts with, density, the
// audit's cap per file, hot regions, long paths and the start-up card.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const shown = (page) => page.$$eval('#list .row', (rows) => rows.filter((r) => r.style.display !== 'none')
  .sort((a, b) => a.getAttribute('aria-posinset') - b.getAttribute('aria-posinset'))
  .map((r) => [r.dataset.path.slice(3), r.querySelector('.cv').textContent, r.querySelector('.bar i').style.width]));

test('code only by default; density ranks a one-line file below a dense one; the table lists files; the audit cap', async () => {
  const { page } = await h.openPage(browser);
  const files = [['big.c', 2000, 5000], ['dense.c', 500, 60], ['doc.txt', 3000, 10], ['tiny.c', 15, 1]];
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 32938270,
    files: files.map(([n, cv]) => ({ path: '/p/' + n, name: n, heat01: cv / 3000, heatCV: cv })) });
  await h.deliver(page, { type: 'setFileLines', lines: files.map((f) => f[2]) });
  await h.deliver(page, { type: 'setScopeInfo', folderName: 'p', notCode: ['/p/doc.txt'], testOrGenerated: [] });
  assert.equal(await page.inputValue('#scope'), 'code');
  assert.match(await page.textContent('#projStats'), /32,938,270 lines/);
  assert.deepEqual((await shown(page)).map((r) => r[0]), ['big.c', 'dense.c', 'tiny.c']);

  // Per line alone tiny.c (15) would lead; over at least 50 lines it has 0.30.
  await page.click('#rankDensity');
  // Bars on a log scale over two decades below the densest file in scope (doc.txt, 60 per line, is not).
  const bar = (v) => Math.log((1 + v) / (1 + 8.33 / 100)) / Math.log((1 + 8.33) / (1 + 8.33 / 100)) * 100;
  assert.deepEqual((await shown(page)).map((r) => r.slice(0, 2)), [['dense.c', '8.33'], ['big.c', '0.40'], ['tiny.c', '0.30']]);
  assert.deepEqual((await shown(page)).map((r) => Math.round(parseFloat(r[2]))), [100, Math.round(bar(0.4)), Math.round(bar(0.3))]);
  await page.click('#rankTotal');
  assert.deepEqual((await shown(page))[0].slice(0, 2), ['big.c', '2,000.00']);

  await page.keyboard.press('o');
  await page.click('#mapAsTable');
  const rows = () => page.$$eval('#mapTable tbody tr', (rs) => rs.map((r) => [r.cells[0].textContent, r.cells[4].textContent]));
  await page.click('#mapTable th:nth-child(5) button');
  assert.deepEqual(await rows(), [['dense.c', '8.33'], ['big.c', '0.40'], ['tiny.c', '0.30']]);
  await h.clearSent(page);
  await page.click('#mapTable tbody tr:first-child');
  assert.deepEqual((await h.sent(page)).map((m) => h.unb64(m.path_b64).toString()), ['/p/dense.c']);

  await h.clearSent(page);
  await page.keyboard.press('a');
  await page.click('#btnAuditCap');
  await page.click('#btnAuditCap');
  assert.deepEqual(await h.sent(page), [{ type: 'requestAudit', scope: 'code' },
    { type: 'requestAudit', scope: 'code', perFile: '3' }, { type: 'requestAudit', scope: 'code' }]);
  await page.close();
});

test('[ and ] stop once per run of lines in the hottest tenth', async () => {
  const { page } = await h.openPage(browser);
  await h.deliver(page, h.project(['/p/a.c']));
  await page.click('#list .row');
  const raw = Array(20).fill(1);
  [raw[1], raw[2], raw[3], raw[8]] = [50, 60, 55, 70];  // the 90th percentile is 55
  await h.deliver(page, h.codeMessage('/p/a.c', Array.from({ length: 20 }, (_, i) => 'x' + i).join('\n'), raw));
  await page.click('#code .cl[data-line="1"]');
  const seen = [];
  for (const key of [']', ']', ']']) { await page.keyboard.press(key); seen.push(await page.textContent('#status')); }
  assert.match(seen[0], /^Hot spot at line 3\u20134 /);
  assert.match(seen[1], /^Hot spot at line 9 /);
  assert.match(seen[2], /^Wrapped to the first hot spot: line 3\u20134 /);
  await page.close();
});

test('a deep path: the file name is whole, the folders give way in the middle, nothing overlaps', async () => {
  const { page } = await h.openPage(browser);
  const dir = 'drivers/net/ethernet/mellanox/mlx5/core/steering/';
  const name = 'dr_ste_v1_long_name.c';
  await h.deliver(page, h.project(['/k/' + dir + name, '/k/Makefile']));
  await page.evaluate(() => document.documentElement.style.setProperty('--list-w', '420px'));
  await page.setViewportSize({ width: 1100, height: 800 });
  await h.nextPaint(page);
  const row = await page.$eval('#list .row[aria-posinset="1"]', (r) => {
    const box = (sel) => r.querySelector(sel).getBoundingClientRect();
    const n = r.querySelector('.n');
    return { d: r.querySelector('.d').textContent, n: n.textContent, whole: n.scrollWidth <= n.clientWidth + 0.5,
      d0: box('.d').left, d1: box('.d').right, n0: box('.n').left, n1: box('.n').right, p0: box('.rpath').left, p1: box('.rpath').right };
  });
  assert.equal(row.n, name);
  assert.ok(row.whole && row.n1 <= row.p1 + 0.5, 'the name is cut: ' + JSON.stringify(row));
  assert.match(row.d, /^drivers\/\u2026.*steering\/$/);
  assert.ok(row.d0 >= row.p0 && row.d1 <= row.n0 + 0.5, JSON.stringify(row));
  await page.close();
});

test('start-up: the folder being analysed shows from its first message, and the footer never says Ready meanwhile', async () => {
  const { page } = await h.openPage(browser);
  const visible = (sel) => page.isVisible(sel);
  assert.notEqual(await page.textContent('#status'), 'Ready');
  await h.deliver(page, { type: 'setProgress', state: 'busy', done: 0, total: 0, folderName: 'linux' });
  assert.equal(await page.textContent('#busyName'), 'Analysing linux');
  assert.equal(await visible('#btnOpenBig'), false);
  await page.waitForTimeout(500);
  await h.deliver(page, { type: 'setProgress', state: 'busy', done: 1200, total: 78130 });
  assert.equal(await page.textContent('#busyCount'), '1,200 of 78,130 files');
  assert.notEqual(await page.textContent('#status'), 'Ready');
  await h.deliver(page, { type: 'setProgress', state: 'idle' });
  assert.equal(await visible('#btnOpenBig'), true);
  assert.equal(await page.textContent('#status'), 'Ready');

  // Without a folder the program says nothing: the welcome card comes after a moment.
  const { page: quiet } = await h.openPage(browser);
  await quiet.waitForFunction(() => document.getElementById('status').textContent === 'Ready');
  assert.equal(await quiet.isVisible('#btnOpenBig'), true);
  await page.close();
  await quiet.close();
});
