'use strict';
// The history the host sends: the footer's state, the Hotspots scatter plot (hover,
// click, keys), and the code view coloured by change counts with the Why panel's note.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const [hotFile, coolFile, stillFile] = ['/p/src/hot.c', '/p/src/cool.c', '/p/src/still.c'];
const history = {
  type: 'setHistory', state: 'read', reason: '', since: '2025-12-01', countsFrom: null, commits: 40, files: [
    { path: hotFile, score: 0.81, heatPct: 0.9, changePct: 0.9, changes: 12, frequency: 4.2, authors: 2, lastChange: '2026-11-30' },
    { path: coolFile, score: 0.06, heatPct: 0.2, changePct: 0.3, changes: 1, frequency: 0.3, authors: 1, lastChange: '2026-01-02' },
    { path: stillFile, score: 0, heatPct: 0.5, changePct: 0, changes: 0, frequency: 0, authors: 0, lastChange: null }],
};

test('the Hotspots tab plots the files; hover names one, click and Enter open it', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, h.project([hotFile, coolFile, stillFile]));
  await h.deliver(page, { type: 'setFileLines', lines: [400, 20, 100] });
  await page.click('#tabHot');
  await h.deliver(page, { type: 'setHistory', state: 'reading', done: 1234, total: 5000 });
  assert.equal(await page.textContent('#historyState'), 'Reading history \u2026 1,234 of 5,000 commits');
  assert.match(await page.textContent('#hotNote'), /Reading history/);
  await h.deliver(page, history);
  assert.match(await page.textContent('#hotHead'), /40 commits since 2025-12-01 .* 1 file hot and changing/);

  // Where a point must be: heat along x, change frequency up the y axis, inside the plot's frame.
  const box = await page.$eval('#hotCanvas', (c) => { const r = c.getBoundingClientRect(); return { x: r.left, y: r.top, w: r.width, h: r.height }; });
  const pw = box.w - 64, ph = box.h - 56, inset = Math.min(13.5, pw / 4, ph / 4);  // centres kept one radius inside
  const at = (heatPct, changePct) => ({ x: box.x + 46 + inset + heatPct * (pw - 2 * inset), y: box.y + 18 + inset + (1 - changePct) * (ph - 2 * inset) });
  const hotAt = at(0.9, 0.9), coolAt = at(0.2, 0.3);
  const pixel = (p) => page.$eval('#hotCanvas', (c, q) => Array.from(c.getContext('2d').getImageData(q.x, q.y, 1, 1).data), { x: p.x - box.x, y: p.y - box.y });
  assert.notDeepEqual(await pixel(hotAt), await pixel(at(0.05, 0.6)), 'a point is drawn where the file sits');
  await h.clearSent(page);
  await page.keyboard.press('Control+s');
  assert.match(h.unb64((await h.sent(page))[0].name_b64).toString(), /^Varnholt_demo_hotspots\.png$/);
  await page.mouse.move(hotAt.x, hotAt.y);
  assert.match(await page.textContent('#hotTip'), /^hot\.c\nscore 0\.81 .* changes 12, last on 2026-11-30$/);
  await page.mouse.move(coolAt.x, coolAt.y);
  assert.match(await page.textContent('#hotTip'), /^cool\.c\n/);

  await h.clearSent(page);
  await page.mouse.click(coolAt.x, coolAt.y);
  assert.deepEqual((await h.sent(page)).map((m) => [m.type, h.unb64(m.path_b64).toString()]), [['selectFile', coolFile]]);
  assert.equal(await page.getAttribute('#tabCode', 'aria-selected'), 'true');

  await page.keyboard.press('h');
  await h.clearSent(page);
  for (const key of ['ArrowDown', 'ArrowUp', 'ArrowUp', 'Enter']) await page.keyboard.press(key);
  assert.deepEqual((await h.sent(page)).map((m) => h.unb64(m.path_b64).toString()), [hotFile],
    'from the clicked second file by score: Down, Up, Up is the first');

  await h.deliver(page, { type: 'setHistory', state: 'none', reason: 'not in a git work tree' });
  assert.equal(await page.textContent('#historyState'), 'No history: not in a git work tree');
  assert.equal(await page.isVisible('#lineBy'), false);
  assert.deepEqual(pageErrors, []);
});

test('lines are coloured by changes or hotspot on request, and Why says when they changed', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, h.project([hotFile]));
  await h.deliver(page, history);
  const text = ['a = 1;', 'for (;;) { if (x) y(); }', 'b = 2;', 'c = 3;'].join('\n');
  await h.deliver(page, h.codeMessage(hotFile, text, { 1: 300 }));
  await h.deliver(page, { type: 'setLineHistory', path: hotFile, runs: [[1, 3, '2026-11-01'], [2, 0, null], [1, 1, '2026-02-03']] });
  const backgrounds = () => page.$$eval('#code .cl', (rows) => rows.filter((r) => r.style.display !== 'none')
    .sort((a, b) => a.dataset.line - b.dataset.line).map((r) => r.style.background !== ''));
  assert.deepEqual(await backgrounds(), [false, true, false, false], 'by heat: only the loop');
  // An update being read keeps what is shown.
  await h.deliver(page, { type: 'setHistory', state: 'reading', done: 10, total: 50 });
  assert.equal(await page.textContent('#historyState'), 'Reading history \u2026 10 of 50 commits');
  await page.click('#lineByChanges');
  assert.deepEqual(await backgrounds(), [true, false, false, true], 'by changes: lines 1 and 4');
  assert.match(await page.textContent('#lineByLegend'), /0 \u2192 3 changes/);
  await page.click('#lineByHotspot');
  assert.deepEqual(await backgrounds(), [false, false, false, false], 'no line is both hot and changed');

  await page.click('#code .cl[data-line="1"]');
  await h.deliver(page, { type: 'setExplain', path_b64: h.b64(hotFile), line: 1, explanation: { line: 1, heat: 0, scored: true, reasons: [] } });
  assert.match(await page.textContent('#why'), /Changed 3 times in the window, last on 2026-11-01\./);
  assert.deepEqual(pageErrors, []);
});
