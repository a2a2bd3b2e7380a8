'use strict';
// A first run's list: names while the analysis runs, heats as batches finish, the project at the end.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const rows = (page) => page.$$eval('#list .row', (rs) => rs.filter((r) => r.style.display !== 'none')
  .map((r) => [r.querySelector('.n').textContent, r.querySelector('.cv').textContent, r.classList.contains('pending')]));

test('pending rows show at once, fill in by batch after the done ones, and give way to the project or to nothing', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, { type: 'setProgress', state: 'busy', done: 0, total: 0, folderName: 'k' });
  await h.deliver(page, { type: 'setPendingProject', projectName: 'k', folderName: 'k', root: '/k/', paths: ['a.c', 'b.c', 'c.c', 'notes.md'], notCode: [3] });
  assert.deepEqual(await rows(page), [['a.c', '\u2013', true], ['b.c', '\u2013', true], ['c.c', '\u2013', true]], 'prose is outside "code"');
  assert.equal(await page.isDisabled('#btnAudit'), true);
  await page.keyboard.press('o');  // the overview map of files with no lines yet

  await h.deliver(page, { type: 'fillPendingProject', heatScaleLog: Math.log1p(40), files: [[2, 40, 10, 0], [9, 1, 1, 0]] });
  await h.deliver(page, { type: 'fillPendingProject', heatScaleLog: Math.log1p(40), files: [[1, 50, 300, 2], [2, 99, 1, 0]] });
  assert.deepEqual(await rows(page), [['b.c', '50.00', false], ['c.c', '40.00', false], ['a.c', '\u2013', true]],
    'the hottest first, pending last; a file is filled once and unknown indices are skipped');
  await page.click('#rankDensity');
  assert.deepEqual((await rows(page)).map((r) => r[0]), ['c.c', 'b.c', 'a.c']);
  await page.click('#rankTotal');
  assert.match(await page.textContent('#projStats'), /4 files\s+·\s+310 lines so far/);
  await page.selectOption('#scope', 'nontest');
  assert.deepEqual((await rows(page)).map((r) => r[0]), ['c.c', 'a.c'], 'a filled test file leaves "nontest"');
  await page.selectOption('#scope', 'code');

  await h.deliver(page, h.project(['/k/a.c', '/k/b.c', '/k/c.c', '/k/notes.md']));
  assert.deepEqual((await rows(page)).map((r) => r[2]), [false, false, false], 'the project replaces every pending row');
  assert.equal(await page.isDisabled('#btnAudit'), false);

  await h.deliver(page, { type: 'setPendingProject', projectName: 'm', folderName: 'm', root: '/m/', paths: ['x.c'], notCode: [] });
  await h.deliver(page, { type: 'dropPendingProject' });
  await h.deliver(page, { type: 'setProgress', state: 'failed', text: 'Could not read /m: Permission denied' });
  assert.deepEqual(await rows(page), []);
  assert.equal(await page.isVisible('#welcome'), true);
  assert.deepEqual([pageErrors, await h.thrown(page)], [[], []]);
  await page.close();
});
