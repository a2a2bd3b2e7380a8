'use strict';
// What the page shows for each message: file list, code view, audit and the jump between them.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const file = (path, heat01, heatCV) => ({ path, name: path.split(/[\\/]/).pop(), heat01, heatCV });

// The rendered rows of the virtual file list, in list order.
const listRows = (page) => page.$$eval('#list .row', (rows) => rows
  .filter((r) => r.style.display !== 'none')
  .map((r) => ({
    pos: Number(r.getAttribute('aria-posinset')), path: r.dataset.path,
    text: r.querySelector('.rpath').textContent, sel: r.classList.contains('sel'),
  }))
  .sort((a, b) => a.pos - b.pos));

const codeRows = (page) => page.$$eval('#code .cl', (rows) => rows
  .filter((r) => r.style.display !== 'none')
  .map((r) => ({
    line: Number(r.dataset.line), no: r.querySelector('.no').textContent, text: r.querySelector('.tx').textContent,
    bg: getComputedStyle(r).backgroundColor, fg: getComputedStyle(r.querySelector('.tx')).color,
    title: r.title, mark: r.classList.contains('mark'),
  }))
  .sort((a, b) => a.line - b.line));

test('file list: header counts, heat order, path order, relative paths and filter', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, {
    type: 'setProject', projectName: 'app', totalLOC: 12345,
    files: [
      file('/home/x/app/src/util/str.c', 0.25, 12.5),
      file('/home/x/app/src/main.c', 1, 80),
      file('/home/x/app/README.md', 0, 0),
      file('/home/x/app/src/net.c', 1, 120),   // same heat01 as main.c: the larger raw heat goes first
    ],
  });
  assert.equal(await page.textContent('#projName'), 'app');
  const stats = (await page.textContent('#projStats')).replace(/[^\d a-z]/g, '');
  assert.match(stats, /^4 files\s+12345 lines$/);
  assert.equal(await page.isVisible('#welcome'), false);
  assert.equal(await page.textContent('#rootPath'), '/home/x/app/');

  let rows = await listRows(page);
  assert.deepEqual(rows.map((r) => r.text), ['src/net.c', 'src/main.c', 'src/util/str.c', 'README.md']);

  await page.click('#sortPath');
  rows = await listRows(page);
  assert.deepEqual(rows.map((r) => r.text), ['README.md', 'src/main.c', 'src/net.c', 'src/util/str.c']);

  await page.fill('#filter', 'SRC .c');   // every word must match, case does not matter
  rows = await listRows(page);
  assert.deepEqual(rows.map((r) => r.text), ['src/main.c', 'src/net.c', 'src/util/str.c']);
  assert.match(await page.textContent('#listCount'), /^3 of 4$/);
  await page.fill('#filter', 'nothing-like-this');
  assert.equal((await listRows(page)).length, 0);
  assert.match(await page.textContent('#list'), /No file matches/);
  await page.fill('#filter', '');
  assert.equal((await listRows(page)).length, 4);

  // The same list again (the host sends it twice) keeps sort, cursor and selection.
  await page.click('#list .row[aria-posinset="2"]');
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 12345, files: [
    file('/home/x/app/README.md', 0, 0), file('/home/x/app/src/main.c', 1, 80),
    file('/home/x/app/src/net.c', 1, 120), file('/home/x/app/src/util/str.c', 0.25, 12.5)] });
  rows = await listRows(page);
  assert.deepEqual(rows.filter((r) => r.sel).map((r) => r.text), ['src/main.c']);
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('relative paths: common root across separators, drives and look-alike folders', async () => {
  const { page } = await h.openPage(browser);
  const cases = [
    [['C:\\p\\src\\a.c', 'C:\\p/src/sub\\b.c', 'C:/p\\src\\c.c'], ['a.c', 'sub\\b.c', 'c.c']],
    [['/p/src/a.c', '/p/srcx/b.c'], ['src/a.c', 'srcx/b.c']],     // not cut inside a folder name
    [['/a/x.c', '/b/y.c'], ['a/x.c', 'b/y.c']],
    [['C:\\p\\a.c', 'D:\\p\\a.c'], ['C:\\p\\a.c', 'D:\\p\\a.c']],  // nothing shared
    [['/only/one/file.c'], ['file.c']],
  ];
  for (const [paths, want] of cases) {
    await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 1, files: paths.map((p) => file(p, 0.5, 1)) });
    await page.click('#sortPath');
    const rows = await listRows(page);
    assert.deepEqual(rows.map((r) => r.text).sort(), want.slice().sort(), paths.join(' '));
  }
  await page.close();
});

test('code view: lines, numbers, tints by heat, raw heat on hover, bad bytes, scroll on refresh', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const path = '/p/a.c';
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 3, files: [file(path, 1, 9)] });
  await page.click('#list .row[aria-posinset="1"]');
  assert.match(await page.textContent('#codeStats'), /loading/);
  // CRLF line ends, an invalid byte and a cut multi-byte character.
  const bytes = Buffer.concat([Buffer.from('int a;\r\nif (x) {\r\n'), Buffer.from([0x62, 0xff, 0x63, 0x0a, 0xc3])]);
  await h.deliver(page, {
    type: 'setCode', path, code_b64: bytes.toString('base64'),
    lineHeat: [0, 1, 0.5], lineCV: [0, 3.5, 1.25], fileHeatCV: 4.75,  // shorter than the text: line 4 is cold
  });
  const rows = await codeRows(page);
  assert.deepEqual(rows.map((r) => r.no), ['1', '2', '3', '4']);
  assert.deepEqual(rows.map((r) => r.text), ['int a;', 'if (x) {', 'b\ufffdc', '\ufffd']);
  assert.match(await page.textContent('#codeStats'), /4 lines.*heat 4\.75/);
  assert.equal(await page.isVisible('#codeEmpty'), false);
  const transparent = 'rgba(0, 0, 0, 0)';
  assert.equal(rows[0].bg, transparent);
  assert.equal(rows[3].bg, transparent);
  assert.notEqual(rows[1].bg, transparent);
  assert.notEqual(rows[2].bg, transparent);
  assert.notEqual(rows[1].bg, rows[2].bg);
  assert.match(rows[1].title, /Line 2[\s\S]*3\.50/);
  assert.match(rows[2].title, /1\.25/);

  // A long file: refresh of the same path keeps the place, a new path starts at the top.
  const long = Array.from({ length: 3000 }, (_, i) => `x${i + 1}`).join('\n');
  await h.deliver(page, h.codeMessage(path, long, []));
  await page.evaluate(() => { document.getElementById('code').scrollTop = 20000; });
  await h.nextPaint(page);
  const first = (await codeRows(page)).find((r) => r.line > 1000);
  assert.ok(first, 'rows near line 1000 are rendered after scrolling');
  await h.deliver(page, h.codeMessage(path, long + '\nmore', []));
  assert.equal(await page.evaluate(() => document.getElementById('code').scrollTop), 20000);
  assert.ok((await codeRows(page)).some((r) => r.text === first.text));
  await h.deliver(page, h.codeMessage('/p/other.c', long, []));
  assert.equal(await page.evaluate(() => document.getElementById('code').scrollTop), 0);
  assert.equal((await codeRows(page))[0].text, 'x1');

  // The empty message means nothing is selected.
  await h.deliver(page, { type: 'setCode', path: '', code_b64: '', lineHeat: [], lineCV: [], fileHeatCV: 0 });
  assert.equal(await page.isVisible('#codeEmpty'), true);
  assert.equal((await codeRows(page)).length, 0);
  assert.equal((await listRows(page)).filter((r) => r.sel).length, 0);
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('audit: rows, hint, and the jump to the line', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const root = 'C:\\work\\app\\';
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 900,
    files: [file(root + 'src\\big.c', 1, 40), file(root + 'small.c', 0.3, 2)] });
  await page.click('#btnAudit');
  assert.match(await page.textContent('#auditBody'), /Collecting/);
  const items = [
    { path: root + 'src\\big.c', file: 'big.c', lineStart: 700, lineEnd: 700, cv: 9.5, heat01: 0.2375, kind: 'line', preview: '    for (i = 0; i < n; i++) {' },
    { path: root + 'small.c', file: 'small.c', lineStart: 3, lineEnd: 3, cv: 2, heat01: 1, kind: 'line', preview: 'return a ? b : c;' },
  ];
  await h.deliver(page, { type: 'setAudit', hint: 'Whole codebase \u00b7 Click a row to jump', items });
  assert.equal(await page.textContent('#auditHint'), 'Whole codebase \u00b7 Click a row to jump');
  const cells = await page.$$eval('#auditBody tr.item', (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent.trim())));
  assert.deepEqual(cells, [
    ['1', 'big.c  src\\', '700', '9.50', '24%', 'for (i = 0; i < n; i++) {'],
    ['2', 'small.c', '3', '2.00', '100%', 'return a ? b : c;'],
  ]);

  await h.clearSent(page);
  await page.click('#auditBody tr.item[data-index="0"]');
  const [cmd] = await h.sent(page);
  assert.equal(cmd.type, 'selectFile');
  assert.equal(h.unb64(cmd.path_b64).toString('utf8'), root + 'src\\big.c');
  assert.equal(await page.getAttribute('#tabCode', 'aria-selected'), 'true');
  const text = Array.from({ length: 1500 }, (_, i) => `line ${i + 1}`).join('\n');
  // A refresh of another file may arrive first; the jump waits for its own file.
  await h.deliver(page, h.codeMessage(root + 'small.c', 'a\nb\nc', []));
  await h.deliver(page, h.codeMessage(root + 'src\\big.c', text, { 699: 9.5 }));
  const marked = await page.$$eval('#code .cl.mark', (rows) => rows.map((r) => {
    const box = r.getBoundingClientRect(), view = document.getElementById('code').getBoundingClientRect();
    return { line: r.dataset.line, inView: box.top >= view.top && box.bottom <= view.bottom };
  }));
  assert.deepEqual(marked, [{ line: '700', inView: true }]);
  // The list follows: the jumped-to file is the selected row.
  assert.deepEqual((await listRows(page)).filter((r) => r.sel).map((r) => r.text), ['src\\big.c']);

  // A new analysis makes the audit stale until it is asked for again.
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 901,
    files: [file(root + 'src\\big.c', 1, 41), file(root + 'small.c', 0.3, 2)] });
  await page.click('#tabAudit');
  assert.equal(await page.isVisible('#auditStale'), true);
  await h.deliver(page, { type: 'setAudit', hint: 'h', items: [] });
  assert.equal(await page.isVisible('#auditStale'), false);
  assert.match(await page.textContent('#auditBody'), /No hot lines/);
  assert.deepEqual(pageErrors, []);
  await page.close();
});
