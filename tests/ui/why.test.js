'use strict';
// The "Why" panel: a selected line is explained by the host, stale answers are dropped,
// neighbour links jump and ask again; audit rows show the reason the host sends.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const path = '/p/src/loop.swift';
const asked = async (page) => (await h.sent(page)).filter((m) => m.type === 'explainLine')
  .map((m) => [h.unb64(m.path_b64).toString('utf8'), m.line]);
const explain = (line, explanation) => ({ type: 'setExplain', path_b64: h.b64(path), line, explanation });

test('selecting a line opens its explanation; a neighbour link jumps there', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, h.project([path]));
  const text = Array.from({ length: 12 }, (_, i) => `line ${i + 1}`).join('\n');
  await h.deliver(page, h.codeMessage(path, text, { 4: 376.4, 5: 264.2 }));
  await h.clearSent(page);
  await page.click('#code .cl[data-line="5"]');
  assert.deepEqual(await asked(page), [[path, '5']]);
  assert.equal(await page.isVisible('#why'), false, 'nothing shown before the answer');

  await h.deliver(page, explain(3, { line: 3, heat: 1, scored: true, reasons: [{ text: 'stale', factor: 0, lines: [] }] }));
  assert.equal(await page.isVisible('#why'), false, 'an answer for another line is dropped');
  await h.deliver(page, explain(5, { line: 5, heat: 376.4362, scored: true, reasons: [
    { text: 'control-flow load 3.10 (for, where, &&), squared', factor: 0, lines: [] },
    { text: '1 hot line just below', factor: 1.0216, lines: [6] }] }));
  assert.deepEqual(await page.$$eval('#why li', (lis) => lis.map((li) => li.textContent)),
    ['control-flow load 3.10 (for, where, &&), squared', '1 hot line just below\u00d71.02line 6']);
  assert.match(await page.textContent('#why .why-head'), /^Why line 5 \u00b7 heat 376\.44/);

  await h.clearSent(page);
  await page.click('#why .why-link');
  assert.deepEqual(await page.$$eval('#code .cl.mark', (rows) => rows.map((r) => r.dataset.line)), ['6']);
  assert.deepEqual(await asked(page), [[path, '6']]);
  await h.deliver(page, explain(6, { line: 6, heat: 0, scored: false, notScoredBecause: 'blank' }));
  assert.match(await page.textContent('#why'), /Not scored: blank line\./);
  await h.deliver(page, explain(6, { line: 6, heat: 0, scored: false, notScoredBecause: 'inString', notScoredText: 'inside a string' }));
  assert.match(await page.textContent('#why'), /Not scored: inside a string\./);
  await h.deliver(page, explain(6, null));
  assert.match(await page.textContent('#why'), /cannot be explained/);
  await page.keyboard.press('Escape');
  assert.equal(await page.isVisible('#why'), false);

  await h.deliver(page, { type: 'setAudit', hint: 'h', items: [
    { path, file: 'loop.swift', lineStart: 5, lineEnd: 5, cv: 376.4, heat01: 0.6, kind: 'line', preview: 'for x {' },
    { path, file: 'loop.swift', lineStart: 6, lineEnd: 6, cv: 264.2, heat01: 0.4, kind: 'line', preview: 'if y {' }] });
  await h.deliver(page, { type: 'setAuditReasons', reasons: ['1 loop keyword (for)', 7] });
  // The reason sits under the code, which keeps the cell's whole width.
  assert.deepEqual(await page.$$eval('#auditBody td.prev', (tds) => tds.map((td) => {
    const code = td.querySelector('code'), why = td.querySelector('.why-line');
    return [code.textContent, why ? why.textContent : null, code.getBoundingClientRect().width >= td.clientWidth - 16];
  })), [['for x {', '1 loop keyword (for)', true], ['if y {', null, true]]);
  assert.deepEqual(pageErrors, []);
});
