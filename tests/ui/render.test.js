'use strict';
// What the page shows for each message: file list, code view, audit and the jump between them;
// messages it did not expect must never throw, nor spoil what comes after.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const file = h.file;
const visible = (sel, map) => `[...document.querySelectorAll('${sel}')].filter((r) => r.style.display !== 'none').map(${map})`;
const listRows = (page) => page.evaluate(visible('#list .row', `(r) => ({ pos: +r.getAttribute('aria-posinset'),
  text: r.querySelector('.rpath').textContent, sel: r.classList.contains('sel') })`)).then((rs) => rs.sort((a, b) => a.pos - b.pos));
const texts = async (page) => (await listRows(page)).map((r) => r.text);
const codeRows = (page) => page.evaluate(visible('#code .cl', `(r) => ({ line: +r.dataset.line, text: r.querySelector('.tx').textContent,
  bg: getComputedStyle(r).backgroundColor, fg: getComputedStyle(r.querySelector('.tx')).color, title: r.title })`))
  .then((rs) => rs.sort((a, b) => a.line - b.line));

test('file list: counts, heat and path order, relative paths, filter, a repeated list, 80,000 files', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const files = [file('/home/x/app/src/util/str.c', 0.25, 12.5), file('/home/x/app/src/main.c', 1, 80),
    file('/home/x/app/README.md', 0, 0), file('/home/x/app/src/net.c', 1, 120)];  // ties on heat01: raw heat decides
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 12345, files });
  assert.equal(await page.textContent('#projName'), 'app');
  assert.match((await page.textContent('#projStats')).replace(/[^\d a-z]/g, ''), /^4 files\s+12345 lines$/);
  assert.equal(await page.textContent('#rootPath'), '/home/x/app/');
  assert.deepEqual(await texts(page), ['src/net.c', 'src/main.c', 'src/util/str.c', 'README.md']);
  await page.click('#sortPath');
  assert.deepEqual(await texts(page), ['README.md', 'src/main.c', 'src/net.c', 'src/util/str.c']);
  await page.fill('#filter', 'SRC .c');  // every word, any case
  assert.deepEqual(await texts(page), ['src/main.c', 'src/net.c', 'src/util/str.c']);
  assert.match(await page.textContent('#listCount'), /^3 of 4$/);
  await page.fill('#filter', 'nothing-like-this');
  assert.match(await page.textContent('#list'), /No file matches/);
  await page.fill('#filter', '');
  // The same list again (the host sends it twice) keeps sort and selection.
  await page.click('#list .row[aria-posinset="2"]');
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 12345, files: files.slice().reverse() });
  assert.deepEqual((await listRows(page)).filter((r) => r.sel).map((r) => r.text), ['src/main.c']);

  for (const [paths, want] of [
    [['C:\\p\\src\\a.c', 'C:\\p/src/sub\\b.c', 'C:/p\\src\\c.c'], ['a.c', 'c.c', 'sub\\b.c']],
    [['/p/src/a.c', '/p/srcx/b.c'], ['src/a.c', 'srcx/b.c']],  // not cut inside a folder name
    [['C:\\p\\a.c', 'D:\\p\\a.c'], ['C:\\p\\a.c', 'D:\\p\\a.c']],
    [['/only/one/file.c'], ['file.c']]]) {
    await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 1, files: paths.map((p) => file(p, 0.5, 1)) });
    assert.deepEqual((await texts(page)).sort(), want, paths.join(' '));
  }
  // A huge project renders only the visible rows.
  await page.evaluate(() => window.__vh.deliver({ type: 'setProject', projectName: 'big', totalLOC: 1,
    files: Array.from({ length: 80000 }, (_, i) => ({ path: `/m/f${String(i).padStart(5, '0')}.c`, name: 'x', heat01: 0.5, heatCV: 1 })) }));
  await h.nextPaint(page);
  assert.ok((await page.$$('#list .row')).length < 200);
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('code view: lines, tints, raw heat on hover, bad bytes, place kept on refresh, empty message', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 3, files: [file('/p/a.c', 1, 9)] });
  await page.click('#list .row[aria-posinset="1"]');
  const bytes = Buffer.concat([Buffer.from('int a;\r\nif (x) {\r\n'), Buffer.from([0x62, 0xff, 0x63, 0x0a, 0xc3])]);
  await h.deliver(page, { type: 'setCode', path: '/p/a.c', code_b64: bytes.toString('base64'),
    lineHeat: [0, 1, 0.5], lineCV: [0, 3.5, 1.25], fileHeatCV: 4.75 });  // shorter than the text: line 4 is cold
  const rows = await codeRows(page);
  assert.deepEqual(rows.map((r) => r.text), ['int a;', 'if (x) {', 'b\ufffdc', '\ufffd']);
  assert.match(await page.textContent('#codeStats'), /4 lines.*heat 4\.75/);
  assert.deepEqual(rows.map((r) => r.bg === 'rgba(0, 0, 0, 0)'), [true, false, false, true]);
  assert.notEqual(rows[1].bg, rows[2].bg);
  assert.match(rows[1].title, /Line 2[\s\S]*3\.50/);

  const long = Array.from({ length: 3000 }, (_, i) => `x${i + 1}`).join('\n');
  await h.deliver(page, h.codeMessage('/p/a.c', long, []));
  await page.evaluate(() => { document.getElementById('code').scrollTop = 20000; });
  await h.nextPaint(page);
  await h.deliver(page, h.codeMessage('/p/a.c', long + '\nmore', []));
  assert.equal(await page.evaluate(() => document.getElementById('code').scrollTop), 20000);
  assert.ok((await codeRows(page)).every((r) => r.line > 500), 'the refresh lost the place');
  await h.deliver(page, h.codeMessage('/p/other.c', long, []));
  assert.equal((await codeRows(page))[0].text, 'x1');
  await page.click('#list .row[aria-posinset="1"]');  // the host no longer has it
  await h.deliver(page, { type: 'setCode', path: '', code_b64: '', lineHeat: [], lineCV: [], fileHeatCV: 0 });
  assert.equal(await page.isVisible('#codeEmpty'), true);
  assert.equal(await page.textContent('#status'), 'Cannot open a.c: not in the project');
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('audit: rows as text, the jump to the line, stale after a new analysis', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const root = 'C:\\work\\app\\';
  const files = [file(root + 'src\\big.c', 1, 40), file(root + '<i>x<i>.c', 0.3, 2)];
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 900, files });
  await page.click('#btnAudit');
  assert.match(await page.textContent('#auditBody'), /Collecting/);
  await h.deliver(page, { type: 'setAudit', hint: 'Whole codebase \u00b7 Click a row to jump', items: [
    { path: root + 'src\\big.c', file: 'big.c', lineStart: 700, lineEnd: 700, cv: 9.5, heat01: 0.2375, kind: 'line', preview: '    for (;;) {' },
    { path: root + '<i>x<i>.c', file: '<i>x<i>.c', lineStart: 3, lineEnd: 3, cv: 2, heat01: 1, kind: 'line', preview: '<i>a</i> ? b : c;' }] });
  // Code only is the scope a new window starts with.
  assert.equal(await page.textContent('#auditHint'), 'Code only \u00b7 Click a row to jump');
  assert.deepEqual(await page.$$eval('#auditBody tr.item', (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent.trim()))), [
    ['1', 'big.c  src\\', '700', '9.50', '24%', 'for (;;) {'],
    ['2', '<i>x<i>.c', '3', '2.00', '100%', '<i>a</i> ? b : c;']]);

  await h.clearSent(page);
  await page.click('#auditBody tr.item[data-index="0"]');
  assert.equal(h.unb64((await h.sent(page))[0].path_b64).toString('utf8'), root + 'src\\big.c');
  // A refresh of another file may come first; the jump waits for its own file.
  await h.deliver(page, h.codeMessage(root + '<i>x<i>.c', 'a\nb\nc', []));
  await h.deliver(page, h.codeMessage(root + 'src\\big.c', Array.from({ length: 1500 }, (_, i) => `l${i}`).join('\n'), { 699: 9.5 }));
  assert.deepEqual(await page.$$eval('#code .cl.mark', (rows) => rows.map((r) => {
    const box = r.getBoundingClientRect(), view = document.getElementById('code').getBoundingClientRect();
    return { line: r.dataset.line, inView: box.top >= view.top && box.bottom <= view.bottom };
  })), [{ line: '700', inView: true }]);
  assert.deepEqual((await listRows(page)).filter((r) => r.sel).map((r) => r.text), ['src\\big.c']);

  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 901, files: [file(root + 'src\\big.c', 1, 41), files[1]] });
  await page.click('#tabAudit');
  assert.equal(await page.isVisible('#auditStale'), true);
  await h.deliver(page, { type: 'setAudit', hint: 'h', items: [] });
  assert.equal(await page.isVisible('#auditStale'), false);
  assert.deepEqual(pageErrors, []);
  await page.close();
});

const MALFORMED = [
  undefined, null, 42, '', 'not json', '{"type":', [], {}, { type: { x: 1 } }, { type: 'somethingNew' }, { type: 'setProject ' },
  { type: 'setProject' },
  { type: 'setProject', projectName: 7, totalLOC: 'many', files: 'all of them' },
  { type: 'setProject', files: [null, 3, 'x', [], {}, { path: 5 }, { path: '' }, { path: {} }] },
  { type: 'setProject', projectName: null, totalLOC: -5, files: [{ path: '/p/a.c', heat01: 'NaN', heatCV: Infinity, name: 9 }] },
  { type: 'setProject', files: [{ path: '/p/a.c', heat01: 1e308 }, { path: '/p/a.c', heat01: -1 }] },  // a path twice
  JSON.parse('{"type":"setProject","__proto__":{"polluted":1},"files":[{"path":"/p/b.c","__proto__":{"heat01":1}}]}'),
  { type: 'setCode' },
  { type: 'setProgress', state: 'busy', done: 'x', total: {} }, { type: 'setProgress', state: 7, text: [] }, { type: 'setSnapshot', ok: 1 },
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

test('run state: analysing with counts over the old project, failure and a gone folder visible, snapshot answers', async () => {
  const { page } = await h.openPage(browser);
  const shown = async (msg) => {  // on the welcome card, in the footer, and the file list's opacity
    await h.deliver(page, { type: 'setProgress', ...msg });
    return page.evaluate((ids) => ids.map((id) => document.getElementById(id)).map((e, k) => (k > 1 ? getComputedStyle(e).opacity : e.offsetParent ? e.textContent : '')), ['welcomeNote', 'runState', 'files']);
  };
  const failed = 'Could not read /x: Permission denied';
  assert.deepEqual(await shown({ state: 'busy', done: 0, total: 0 }), ['Analysing \u2026', 'Analysing \u2026', '1']);
  assert.deepEqual(await shown({ state: 'failed', text: failed }), [failed, failed, '1']);
  await h.deliver(page, h.project(['/p/a.c', '/p/b.c']));
  assert.deepEqual(await shown({ state: 'busy', done: 12345, total: 83519 }), ['', 'Analysing \u2026 12,345 of 83,519 files', '1']);  // project kept
  assert.deepEqual(await shown({ state: 'missing', text: 'Folder not found: /p' }), ['', 'Folder not found: /p', '0.5']);
  assert.deepEqual(await shown({ state: 'idle' }), ['', '', '1']);
  for (const [msg, said] of [[{ ok: true, path: '/u/s.png' }, 'Snapshot saved to /u/s.png'], [{ ok: false, text: failed }, failed]]) {
    await h.deliver(page, { type: 'setSnapshot', ...msg });
    assert.equal(await page.textContent('#status'), said);
  }
  await page.close();
});

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

test('a project update patches the list: rows changed, added, removed, totals and scope', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const files = ['/w/a/b.c', '/w/a/c.c', '/w/a/d.c', '/w/a/z.c'].map((p, i) => file(p, 0.1 * (i + 1), i + 1));
  await h.deliver(page, { type: 'setProject', projectName: 'a', totalLOC: 40, files });
  await h.deliver(page, { type: 'setScopeInfo', folderName: 'a', notCode: [], testOrGenerated: [] });
  await h.deliver(page, { type: 'updateProject', projectName: 'a', folderName: 'a', totalLOC: 55, heatScaleLog: 2,
    files: [{ path: '/w/a/b.c', name: 'b.c', heat01: 0.9, heatCV: 50, lines: 9, scope: 0 },
      { path: '/w/a/ca.c', name: 'ca.c', heat01: 0.5, heatCV: 5, lines: 3, scope: 0 },
      { path: '/w/a/e.txt', name: 'e.txt', heat01: 0, heatCV: 0, lines: 1, scope: 1 }],
    removed: ['/w/a/d.c'] });
  // Unsent files follow the moved scale: z.c at log1p(4) / 2, c.c at log1p(2) / 2.
  assert.deepEqual(await texts(page), ['b.c', 'z.c', 'c.c', 'ca.c'], 'heat order, e.txt outside the code scope');
  assert.match((await page.textContent('#projStats')).replace(/[^\d a-z]/g, ''), /^5 files\s+55 lines$/);
  const b = await page.getAttribute('#list .row[aria-posinset="1"]', 'title');
  assert.match(b, /^\/w\/a\/b\.c\nHeat 50\.00 .*over 9 lines$/s);
  await page.selectOption('#scope', 'all');
  await page.click('#sortPath');
  assert.deepEqual(await texts(page), ['b.c', 'c.c', 'ca.c', 'e.txt', 'z.c']);
  assert.deepEqual(pageErrors, []);
  await page.close();
});
