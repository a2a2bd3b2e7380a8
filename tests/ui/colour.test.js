'use strict';
// Heat colours: the project-wide scale, its legend, both themes, and the audit snapshot.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const { file } = h;
const rgb = (css) => css.match(/[\d.]+/g).slice(0, 3).map(Number);

// Each rendered code line: its tint, text colour and gutter mark (the full heat colour).
const lineColours = (page) => page.$$eval('#code .cl', (rows) => rows
  .filter((r) => r.style.display !== 'none')
  .sort((a, b) => a.dataset.line - b.dataset.line)
  .map((r) => ({ bg: getComputedStyle(r).backgroundColor, fg: getComputedStyle(r.querySelector('.tx')).color,
    mark: getComputedStyle(r.querySelector('.no')).borderRightColor })));

// WCAG contrast ratio.
function contrast(a, b) {
  const lum = (c) => {
    const [r, g, bl] = rgb(c).map((v) => (v / 255 <= 0.03928 ? v / 255 / 12.92 : ((v / 255 + 0.055) / 1.055) ** 2.4));
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [x, y] = [lum(a), lum(b)].sort((p, q) => q - p);
  return (x + 0.05) / (y + 0.05);
}

test('project scale: equal raw heat looks equal in every file, saturated lines and top files stay apart', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  // Sixty files the host puts at 100 %, as the top of a large tree.
  const files = Array.from({ length: 60 }, (_, i) => file(`/p/f${String(i).padStart(2, '0')}.go`, 1, Math.round(90000 * 0.9 ** i)));
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 30000, files });
  const barWidths = () => page.$$eval('#list .row', (rows) => rows.filter((r) => r.style.display !== 'none')
    .sort((a, b) => a.getAttribute('aria-posinset') - b.getAttribute('aria-posinset'))
    .map((r) => r.querySelector('.bar > i').getBoundingClientRect().width));
  const widths = await barWidths();
  assert.ok(widths.length >= 20);
  for (let i = 1; i < widths.length; i++) assert.ok(widths[i] < widths[i - 1], `bar ${i + 1} is not shorter than bar ${i}`);

  // Heat 142 and 557 both sit at 100 % of their file's own scale; a small file's 142 sits at 40 %.
  const open = async (path, cv, host) => {
    await h.deliver(page, { type: 'setCode', path, code_b64: h.b64(cv.map((v) => `x = ${v}`).join('\n')),
      lineHeat: host, lineCV: cv, fileHeatCV: 1 });
    return lineColours(page);
  };
  let big = await open('/p/f00.go', [142, 557, 0], [1, 1, 0]);
  const small = await open('/p/f59.go', [142, 5], [0.4, 1]);
  assert.notEqual(big[0].bg, big[1].bg);
  assert.equal(small[0].bg, big[0].bg, 'the same raw heat differs between files');

  await page.click('#scaleFile');
  assert.ok((await barWidths()).every((w) => w === widths[0]), 'per-file scale shows the host values');
  big = await open('/p/f00.go', [142, 557, 0], [1, 1, 0]);
  assert.equal(big[0].bg, big[1].bg);
  assert.deepEqual(pageErrors, []);
  await page.close();
});

test('legend: ticks are raw heat values placed where the active scale colours them', async () => {
  const { page } = await h.openPage(browser);
  const base = [file('/p/a.c', 1, 90000), ...Array.from({ length: 40 }, (_, i) => file(`/p/b${i}.c`, 0.6, 1000))];
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 5000, files: base });
  const ticks = (id) => page.$$eval(`#${id} span`, (s) => s.map((e) => ({ v: Number(e.dataset.value), at: parseFloat(e.style.left) / 100 })));
  const rampAt = (id, at) => page.$eval(`#${id}`, (c, x) =>
    [...c.getContext('2d').getImageData(Math.round(x * (c.width - 1)), 0, 1, 1).data].slice(0, 3), at);
  const near = (a, b, what) => assert.ok(a.every((v, k) => Math.abs(v - b[k]) <= 8), `${what}: ${a} vs ${b}`);

  // Lines at exactly the tick values must wear the ramp's colour under their tick.
  const check = async (lineTicks) => {
    assert.ok(lineTicks.length >= 3 && lineTicks.every((t, i) => i === 0 || (t.v > lineTicks[i - 1].v && t.at > lineTicks[i - 1].at)));
    const cv = [...lineTicks.map((t) => t.v).filter((v) => v > 0), ...Array(100).fill(200)];
    await h.deliver(page, h.codeMessage('/p/a.c', cv.map((v) => `y = ${v}`).join('\n'), cv));
    assert.deepEqual(await ticks('lineTicks'), lineTicks, 'ticks moved when the lines arrived');
    const rows = await lineColours(page);
    for (const [k, t] of lineTicks.filter((x) => x.v > 0).entries()) near(rgb(rows[k].mark), await rampAt('legendRamp', t.at), `line tick ${t.v}`);
  };
  const projectTicks = await ticks('lineTicks');
  await check(projectTicks);

  // Per file: the ticks follow the open file (here its 95th percentile is 200).
  await page.click('#scaleFile');
  const fileTicks = await ticks('lineTicks');
  assert.notDeepEqual(fileTicks, projectTicks);
  await check(fileTicks);

  // File bars: a file whose raw heat is a tick value has the ramp's colour under that tick.
  for (const mode of ['#scaleProject', '#scaleFile']) {
    await page.click(mode);
    const t = (await ticks('fileTicks')).filter((x) => x.v > 0).at(-1);
    await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: 5000,   // the host's reference: 1000
      files: [...base, file('/p/t.c', Math.min(1, Math.log1p(t.v) / Math.log1p(1000)), t.v)] });
    const bar = await page.$eval('#list .row[data-path="/p/t.c"] .bar > i', (e) => getComputedStyle(e).backgroundColor);
    near(rgb(bar), await rampAt('legendRampFiles', t.at), `file tick ${t.v} (${mode})`);
  }
  await page.close();
});

test('both themes: hot is the warm end, and text keeps 4.5:1 on every heat background', async () => {
  const { page } = await h.openPage(browser);
  await page.setViewportSize({ width: 900, height: 5400 });
  const n = 256;   // one line for every step of the ramp
  const heat = Array.from({ length: n }, (_, i) => i / (n - 1));
  await h.deliver(page, { type: 'setProject', projectName: 'p', totalLOC: n, files: [file('/p/t.c', 1, 10)] });
  await page.click('#scaleFile');
  await h.deliver(page, { type: 'setCode', path: '/p/t.c', code_b64: h.b64(heat.map((v) => `heat ${v}`).join('\n')),
    lineHeat: heat, lineCV: heat, fileHeatCV: 1 });
  for (const colorScheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme });
    await h.nextPaint(page);
    const rows = await lineColours(page);
    assert.equal(rows.length, n);
    const codeBg = await page.$eval('#view', (e) => getComputedStyle(e).backgroundColor);
    let previous = 0;
    for (const [i, r] of rows.entries()) {
      const bg = r.bg === 'rgba(0, 0, 0, 0)' ? codeBg : r.bg;
      assert.ok(contrast(bg, r.fg) >= 4.5, `${colorScheme}: contrast ${contrast(bg, r.fg).toFixed(2)} at heat ${heat[i]}`);
      assert.ok(contrast(bg, codeBg) >= previous - 0.01, `${colorScheme}: tint at heat ${heat[i]} is weaker than below it`);
      previous = contrast(bg, codeBg);
    }
    const [, cg, cb] = rgb(rows[1].mark), [hr, hg, hb] = rgb(rows[n - 1].mark);
    assert.ok(cb > cg, `${colorScheme}: the cool end ${rows[1].mark} is not purple`);
    assert.ok(hr > hg && hg > hb && hr - hb > 120, `${colorScheme}: the hot end ${rows[n - 1].mark} is not orange to gold`);
  }
  await page.close();
});

test('audit snapshot: all rows with their folders, and the hint once', async () => {
  const { page } = await h.openPage(browser);
  const folders = ['src/net/', 'lib/', 'drivers/usb/core/', ''];
  const items = Array.from({ length: 30 }, (_, i) => ({
    path: `/w/app/${folders[i % 4]}m${i}.c`, file: `m${i}.c`, lineStart: 100 + i, lineEnd: 100 + i,
    cv: 900 - i, heat01: 0.5, kind: 'line', preview: `call_${i}(a, b);` }));
  await h.deliver(page, { type: 'setProject', projectName: 'app', totalLOC: 900, files: [file('/w/app/x.c', 1, 9000)] });
  await page.keyboard.press('a');
  const hint = 'Whole codebase \u00b7 Click a row to jump';
  await h.deliver(page, { type: 'setAudit', hint, items });
  // Record every text drawn inside a canvas, with its height there.
  await page.evaluate(() => {
    const draw = CanvasRenderingContext2D.prototype.fillText;
    window.__texts = [];
    CanvasRenderingContext2D.prototype.fillText = function (text, x, y, ...rest) {
      if (y >= 0 && y < this.canvas.height) window.__texts.push({ text: String(text), y });
      return draw.call(this, text, x, y, ...rest);
    };
  });
  await h.clearSent(page);
  await page.keyboard.press('Control+s');
  const [cmd] = await h.sent(page);
  const texts = await page.evaluate(() => window.__texts);
  assert.equal(texts.filter((t) => t.text === hint).length, 1);
  for (const [i, it] of items.entries()) {
    const row = texts.find((t) => t.text === it.file);
    assert.ok(row, `row ${i + 1} is missing`);
    const inRow = texts.filter((t) => t.y === row.y).map((t) => t.text);
    assert.ok(inRow.includes(String(i + 1)) && inRow.includes(String(it.lineStart)), `row ${i + 1}: ${inRow}`);
    if (folders[i % 4]) assert.ok(inRow.includes(folders[i % 4]), `row ${i + 1} has no folder: ${inRow}`);
  }
  assert.ok(h.unb64(cmd.png_b64).readUInt32BE(20) > 30 * 31, 'image height');
  await page.close();
});
