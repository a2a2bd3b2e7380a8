'use strict';
// Messages the page did not expect must never throw, and must not spoil what comes after.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const MALFORMED = [
  undefined, null, 42, '', 'not json', '{"type":', [], {}, { type: { x: 1 } }, { type: 'somethingNew' }, { type: 'setProject ' },
  { type: 'setProject' },
  { type: 'setProject', projectName: 7, totalLOC: 'many', files: 'all of them' },
  { type: 'setProject', files: [null, 3, 'x', [], {}, { path: 5 }, { path: '' }, { path: {} }] },
  { type: 'setProject', projectName: null, totalLOC: -5, files: [{ path: '/p/a.c', heat01: 'NaN', heatCV: Infinity, name: 9 }] },
  { type: 'setProject', files: [{ path: '/p/a.c', heat01: 1e308 }, { path: '/p/a.c', heat01: -1 }] },  // a path twice
  JSON.parse('{"type":"setProject","__proto__":{"polluted":1},"files":[{"path":"/p/b.c","__proto__":{"heat01":1}}]}'),
  { type: 'setCode' },
  { type: 'setCode', path: 5, code_b64: 7 },
  { type: 'setCode', path: '/p/a.c', code_b64: '!!!@@@ not base64 ===', lineHeat: null, lineCV: 'x', fileHeatCV: {} },
  { type: 'setCode', path: '/p/a.c', code_b64: 'aGk', lineHeat: ['a', null, {}, -3, 7], lineCV: [NaN, 'big'] },
  { type: 'setCode', path: '/p/a.c', code_b64: h.b64('\u0000\u001b[31m\u202e tricky \ud7ff'), lineHeat: [0.5] },
  { type: 'setAudit', hint: 5, items: 'none' },
  { type: 'setAudit', items: [null, 5, 'x', { path: 7 }, { path: '/p/a.c', lineStart: 'abc', cv: 'hot', heat01: {}, preview: 3 }] },
];

// Large ones are built in the page: shipping them through the driver is slow.
const HUGE = () => [
  { type: 'setProject', projectName: 'x'.repeat(100000), files: new Array(1000).fill({ path: '/p/same.c' }) },
  { type: 'setAudit', hint: 'h', items: new Array(5000).fill({ path: '/p/a.c', file: 'a.c', lineStart: 1, lineEnd: 1, cv: 1, heat01: 0.5, preview: 'x' }) },
  { type: 'setCode', path: '/p/a.c', code_b64: btoa('a\nb'), lineHeat: new Array(200000).fill(0.5), lineCV: new Array(200000).fill(1) },
];

test('malformed, unexpected and oversized messages neither throw nor break the page', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await page.evaluate((list) => { for (const m of list) window.__vh.deliver(m); }, MALFORMED);
  await page.evaluate((src) => { for (const m of (0, eval)('(' + src + ')')()) window.__vh.deliver(m); }, HUGE.toString());
  await h.nextPaint(page);
  for (const sel of ['#list .row', '#btnSnap', '#btnNextHot']) {
    const el = await page.$(sel);
    if (el && await el.isVisible() && await el.isEnabled()) await el.click();
  }
  // A long line array on a short text adds no lines.
  assert.equal(await page.$eval('#codeSpacer', (e) => e.getBoundingClientRect().height), 40);
  await page.click('#tabAudit');
  const auditRows = await page.$$eval('#auditBody tr.item', (r) => r.length);
  assert.ok(auditRows > 0 && auditRows <= 300, `${auditRows} audit rows`);  // cut, not rendered whole
  assert.deepEqual(await h.thrown(page), []);
  assert.equal(await page.evaluate(() => ({}).polluted), undefined);

  // One minified line is cut for display; the page still works normally afterwards.
  await h.deliver(page, { type: 'setProject', projectName: 'fine', totalLOC: 2, files: [h.file('/q/x.c', 0.5, 1)] });
  await page.evaluate(() => window.__vh.deliver({ type: 'setCode', path: '/q/x.c', code_b64: btoa('y'.repeat(300000)), lineHeat: [1], lineCV: [1] }));
  await page.click('#tabCode');
  const shown = await page.$eval('#code .cl .tx', (e) => e.textContent);
  assert.ok(shown.length < 10000, `${shown.length} characters in the DOM for one line`);
  assert.match(shown, /more characters/);
  await h.deliver(page, { type: 'setCode', path: '/q/x.c', code_b64: h.b64('ok\nstill ok'), lineHeat: [0, 1], lineCV: [0, 2], fileHeatCV: 2 });
  assert.equal(await page.textContent('#projName'), 'fine');
  assert.deepEqual(await page.$$eval('#code .cl', (rows) => rows.filter((r) => r.style.display !== 'none')
    .map((r) => r.querySelector('.tx').textContent)), ['ok', 'still ok']);
  assert.deepEqual(await h.thrown(page), []);
  assert.deepEqual(pageErrors, []);
  await page.close();
});
