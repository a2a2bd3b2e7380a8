'use strict';
// Finding one's way: keyboard and focus, copying, find and go to line, very long files.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const active = (page) => page.evaluate(() => {
  const a = document.activeElement;
  return a.closest('#auditPane') ? 'audit:' + (a.dataset.index ?? 'pane') : a.id || a.tagName;
});
const status = (page) => page.textContent('#status');

async function openFile(page, files, text, raw) {
  await h.deliver(page, h.project(files));
  await page.click('#list .row[aria-posinset="1"]');
  await h.deliver(page, h.codeMessage(files[0], text, raw));
}

test('keyboard: a visible list cursor, one tab stop in the audit, Esc back, hot wrap said, fresh status, zoom', async () => {
  const { page } = await h.openPage(browser);
  await openFile(page, ['/p/a.c', '/p/b.c', '/p/c.c'], 'a\nb\nc\nd\ne\nf', [0, 100, 0, 0, 100, 0]);
  await page.keyboard.press('ArrowDown');
  assert.notEqual(await page.$eval('#list .row.cur', (r) => getComputedStyle(r).boxShadow), 'none');

  await page.keyboard.press('a');
  assert.equal(await active(page), 'audit:pane');
  const items = Array.from({ length: 30 }, (_, i) => ({ path: '/p/a.c', file: 'a.c', lineStart: i + 1, lineEnd: i + 1, cv: 30 - i, heat01: 0.5, kind: 'line', preview: 'x' }));
  await h.deliver(page, { type: 'setAudit', hint: 'h', items });
  assert.equal(await active(page), 'audit:0');
  await page.keyboard.press('ArrowDown');
  assert.equal(await active(page), 'audit:1');
  assert.deepEqual(await page.$$eval('#auditBody tr.item', (rs) => rs.filter((r) => r.tabIndex === 0).map((r) => r.dataset.index)), ['1']);
  await page.keyboard.press('Escape');
  assert.equal(await active(page), 'list');

  // Hot lines are 2 and 5; the view starts mid-screen, below both.
  await page.keyboard.press('c');
  const seen = [];
  for (const key of [']', ']', '[', '[']) { await page.keyboard.press(key); seen.push(await status(page)); }
  assert.match(seen[0], /^Wrapped to the first hot spot: line 2\b/);
  assert.match(seen[1], /^Hot spot at line 5\b/);
  assert.match(seen[3], /^Wrapped to the last hot spot: line 5\b/);

  // An edit, a view change and a project switch each replace the hover text.
  await page.hover('#code .cl[data-line="3"]');
  assert.match(await status(page), /^Line 3 /);
  await h.deliver(page, h.codeMessage('/p/a.c', 'a\nb', [0, 0]));
  assert.equal(await status(page), 'a.c  \u00b7  2 lines');
  await page.click('#tabAudit');
  assert.match(await status(page), /^Audit: 30 lines/);
  await h.deliver(page, h.project(['/q/x.c']));
  assert.doesNotMatch(await status(page), /^Audit/);

  // Ctrl+= and Ctrl+- size the code text.
  await page.click('#tabCode');
  const lineHeight = () => page.$eval('#code .cl', (r) => r.getBoundingClientRect().height);
  await page.keyboard.press('Control+Equal');
  assert.ok(await lineHeight() > 20);
  await page.keyboard.press('Control+Minus');
  await page.keyboard.press('Control+Minus');
  assert.ok(await lineHeight() < 20);
  await page.close();
});

test('copy: the code text alone, whole lines beyond the display cut; the path and relative path', async () => {
  const { page } = await h.openPage(browser);
  await page.evaluate(() => window.addEventListener('copy', (e) => { window.__copied = e.clipboardData.getData('text/plain'); }));
  const copied = async (key) => { await page.keyboard.press(key); await page.waitForTimeout(20); return page.evaluate(() => window.__copied); };
  const long = 'y'.repeat(4100);
  await openFile(page, ['/p/src/a.c', '/p/b.c'], 'int a;\n\tb = 1;\n' + long + '\nend', [50, 0, 0, 0]);
  const at = (line) => page.$eval(`#code .cl[data-line="${line}"] .tx`, (e) => { const r = e.getBoundingClientRect(); return [r.left + 20, r.top + 8]; });
  const [x0, y0] = await at(1), [, y2] = await at(3);
  await page.mouse.move(x0 - 18, y0);          // before the first character
  await page.mouse.down();
  await page.mouse.move(x0 + 600, y2 + 30, { steps: 6 });  // past the cut note of line 3, into line 4
  await page.mouse.up();
  const text = await copied('Control+c');
  assert.match(text, /^int a;\n\tb = 1;\ny{4100}\ne?n?d?$/);
  await page.click('#code .cl[data-line="2"] .tx');
  await page.keyboard.press('Control+a');
  assert.equal(await copied('Control+c'), 'int a;\n\tb = 1;\n' + long + '\nend');

  assert.equal(await copied('Control+Shift+C'), '/p/src/a.c');
  assert.equal(await copied('Alt+Shift+C'), 'src/a.c');
  await page.click('#list .row[aria-posinset="2"]', { button: 'right' });
  await page.click('#ctxRel');
  await page.waitForTimeout(20);
  assert.equal(await page.evaluate(() => window.__copied), 'b.c');
  await page.close();
});

test('find and go to line in a 50,000-line file; filter matches marked in the list', async () => {
  const { page } = await h.openPage(browser);
  const lines = Array.from({ length: 50000 }, (_, i) => `line ${i + 1} ` + (i % 1000 === 0 ? 'a Needle here' : 'hay'));
  await openFile(page, ['/p/lib/big.c', '/p/src/main.c'], lines.join('\n'), []);
  const current = () => page.$eval('#code mark.cur', (m) => [m.textContent, m.closest('.cl').dataset.line]);
  await page.keyboard.press('Control+f');
  await page.keyboard.type('needle');
  assert.equal(await page.textContent('#findCount'), '1 of 50');
  assert.deepEqual(await current(), ['Needle', '1']);
  await page.keyboard.press('Enter');
  assert.deepEqual([await page.textContent('#findCount'), ...await current()], ['2 of 50', 'Needle', '1001']);
  await page.keyboard.press('Shift+Enter');
  await page.keyboard.press('Shift+Enter');
  assert.deepEqual([await page.textContent('#findCount'), ...await current()], ['50 of 50', 'Needle', '49001']);
  await page.keyboard.press('Escape');
  assert.equal(await active(page), 'code');
  assert.equal(await page.$$eval('#code mark', (m) => m.length), 0);

  await page.keyboard.press('Control+g');
  await page.keyboard.type('40000');
  await page.keyboard.press('Enter');
  const shown = await page.$eval('#code .cl.mark', (r) => {
    const a = r.getBoundingClientRect(), b = document.getElementById('code').getBoundingClientRect();
    return [r.dataset.line, a.top >= b.top && a.bottom <= b.bottom];
  });
  assert.deepEqual(shown, ['40000', true]);

  await page.click('#filter');
  await page.keyboard.type('LIB');
  assert.deepEqual(await page.$$eval('#list .row mark', (m) => m.map((e) => e.textContent)), ['lib']);
  await page.close();
});

test('a file of 5 million lines scrolls to its last line', async () => {
  const { page } = await h.openPage(browser);
  await h.deliver(page, h.project(['/p/huge.txt']));
  await page.evaluate(() => window.__vh.deliver({
    type: 'setCode', path: '/p/huge.txt', code_b64: btoa('x\n'.repeat(4999999) + 'last'), lineHeat: [], lineCV: [], fileHeatCV: 0,
  }));
  await page.$eval('#code', (el) => { el.scrollTop = el.scrollHeight; });
  await h.nextPaint(page);
  const last = await page.$eval('#code .cl[data-line="5000000"]', (r) => {
    const a = r.getBoundingClientRect(), b = document.getElementById('code').getBoundingClientRect();
    return [r.textContent.endsWith('last'), a.bottom <= b.bottom + 1 && a.top >= b.top];
  });
  assert.deepEqual(last, [true, true]);
  await page.close();
});

test('overview: area by lines, colour by heat; hover, open, zoom, breadcrumb, a sortable folder table; follows rescans', async () => {
  const { page } = await h.openPage(browser);
  const files = [['/p/a/x.c', 1], ['/p/a/y.c', 5], ['/p/b/z.c', 40]];
  const deliver = async (list, lines) => {
    await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 1, files: list.map(([path, cv]) => h.file(path, cv / 40, cv)) });
    await h.deliver(page, { type: 'setFileLines', lines });
  };
  await deliver(files, [500, 100, 400]);
  await page.keyboard.press('o');
  await h.nextPaint(page);
  // Hover a grid over the map: each file's share of the points follows its lines.
  const grid = () => page.evaluate(() => {
    const c = document.getElementById('mapCanvas'), r = c.getBoundingClientRect(), share = {}, at = {};
    for (let i = 0; i < 40; i++) for (let j = 0; j < 20; j++) {
      const x = r.left + (i + 0.5) * r.width / 40, y = r.top + (j + 0.5) * r.height / 20;
      c.dispatchEvent(new MouseEvent('mousemove', { clientX: x, clientY: y }));
      const path = document.getElementById('mapTip').textContent.split('\n')[0];
      share[path] = (share[path] || 0) + 1 / 800;
      at[path] = [x, y];
    }
    return { share, at };
  });
  const { share, at } = await grid();
  assert.ok(share['a/x.c'] > 0.42 && share['b/z.c'] > 0.33 && share['a/y.c'] > 0.07 && share['a/y.c'] < 0.13, JSON.stringify(share));
  const [pixel, bar] = await page.evaluate(([x, y]) => {
    const c = document.getElementById('mapCanvas'), r = c.getBoundingClientRect(), k = c.width / r.width;
    const px = c.getContext('2d').getImageData(Math.round((x - r.left) * k), Math.round((y - r.top) * k), 1, 1).data;
    const b = document.querySelector('#list .row[data-path="/p/b/z.c"] .bar > i');
    return [[...px.slice(0, 3)], getComputedStyle(b).backgroundColor.match(/\d+/g).map(Number)];
  }, at['b/z.c']);
  pixel.forEach((v, k) => assert.ok(Math.abs(v - bar[k]) <= 2, `${pixel} vs ${bar}`));

  const box = await page.$eval('#mapCanvas', (c) => { const r = c.getBoundingClientRect(); return { x: r.left, y: r.top }; });
  await page.mouse.click(box.x + 8, box.y + 8);  // the name strip of a/, the larger folder
  assert.equal(await page.textContent('#mapCrumbs'), 'p \u203a a');
  assert.deepEqual(Object.keys((await grid()).share).sort(), ['a/x.c', 'a/y.c']);
  await page.click('#mapCrumbs .crumb');
  await h.clearSent(page);
  await page.mouse.click(...at['b/z.c']);
  assert.deepEqual((await h.sent(page)).map((m) => h.unb64(m.path_b64).toString()), ['/p/b/z.c']);
  assert.equal(await page.getAttribute('#tabCode', 'aria-selected'), 'true');

  await page.keyboard.press('o');
  await page.click('#mapAsTable');
  const folders = () => page.$$eval('#mapTable tbody tr', (rs) => rs.map((r) => r.cells[0].textContent));
  assert.deepEqual(await folders(), ['b/', 'a/']);  // heat 40 and 6
  await page.click('#mapTable th:nth-child(3) button');
  assert.deepEqual(await folders(), ['a/', 'b/']);  // 600 and 400 lines
  await deliver([...files, ['/p/c/new.c', 10]], [500, 100, 400, 900]);
  assert.deepEqual(await folders(), ['c/', 'a/', 'b/']);
  // The map takes in the chosen scope, like the list.
  await h.deliver(page, { type: 'setScopeInfo', folderName: 'p', notCode: [], testOrGenerated: ['/p/c/new.c'] });
  await page.selectOption('#scope', 'nontest');
  await h.nextPaint(page);
  assert.deepEqual(await folders(), ['a/', 'b/']);
  await page.close();
});
