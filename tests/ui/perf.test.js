'use strict';
// Large projects and files: timings from message delivery to a painted frame, measured in
// the page. The bounds are generous (shared 2-core machines); the figures are printed.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser?.close(); });

const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const report = (what, xs) => console.log(`${what}: ${xs.map((x) => x.toFixed(1)).join(', ')} ms (median ${median(xs).toFixed(1)} ms)`);

// Builds the message in the page (from the source of `build`, given `arg`) so that only
// the page's own work is timed: from delivery until a frame has been painted.
async function deliverBuilt(page, build, arg) {
  await page.evaluate(({ src, arg }) => { window.__msg = (0, eval)('(' + src + ')')(arg); }, { src: build.toString(), arg });
  return page.evaluate(async () => {
    const msg = window.__msg;
    window.__msg = null;
    const t0 = performance.now();
    window.__vh.deliver(msg);
    await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    return performance.now() - t0;
  });
}

const bigProject = (salt) => {
  const files = [];
  for (let i = 0; i < 80000; i++) {
    const heat = ((i * 7919 + salt) % 10007) / 10007;
    files.push({
      path: `/home/dev/monorepo/pkg${i % 40}/src/mod${(i >> 3) % 250}/file${i}.c`, name: `file${i}.c`,
      heat01: Math.round(heat * 10000) / 10000, heatCV: Math.round(heat * 50000) / 100,
    });
  }
  files.sort((a, b) => (a.path < b.path ? -1 : 1));
  return { type: 'setProject', projectName: 'monorepo', totalLOC: 9000000, files };
};

test('80,000 files: list renders, scrolls and filters with only the visible rows in the DOM', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  const times = [];
  for (let k = 0; k < 3; k++) times.push(await deliverBuilt(page, bigProject, k));
  report('setProject with 80,000 files', times);
  assert.ok(median(times) < 3000, 'far slower than expected');
  // The host sends each project twice; the unchanged second copy should cost little.
  const again = await deliverBuilt(page, bigProject, 2);
  console.log(`setProject again, unchanged: ${again.toFixed(1)} ms`);

  const domRows = await page.$$eval('#list .row', (r) => r.filter((e) => e.style.display !== 'none').length);
  assert.ok(domRows > 10 && domRows < 100, `${domRows} rows in the DOM`);
  assert.match((await page.textContent('#listCount')).replace(/\D/g, ''), /^80000$/);
  assert.equal(await page.textContent('#rootPath'), '/home/dev/monorepo/');

  const scroll = await page.evaluate(async () => {
    const el = document.getElementById('list');
    const t0 = performance.now();
    el.scrollTop = 40000 * 26;
    await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    const ms = performance.now() - t0;
    const shown = [...el.querySelectorAll('.row')].filter((r) => r.style.display !== 'none')
      .map((r) => Number(r.getAttribute('aria-posinset')));
    return { ms, min: Math.min(...shown), max: Math.max(...shown) };
  });
  console.log(`scroll to the middle of 80,000 files: ${scroll.ms.toFixed(1)} ms`);
  assert.ok(scroll.min <= 40001 && scroll.max >= 40010, `rows ${scroll.min}..${scroll.max} after scrolling to row 40001`);

  const filter = await page.evaluate(async () => {
    const input = document.getElementById('filter');
    const t0 = performance.now();
    input.value = 'mod17/ file1';
    input.dispatchEvent(new Event('input'));
    await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    return { ms: performance.now() - t0, count: document.getElementById('listCount').textContent };
  });
  console.log(`filter 80,000 files: ${filter.ms.toFixed(1)} ms (${filter.count})`);
  assert.match(filter.count, /of/);
  assert.ok(filter.ms < 1500);
  assert.deepEqual(pageErrors, []);
  await page.close();
});

const bigFile = (path) => {
  const lines = [];
  const heat = [];
  const cv = [];
  // Typical C-like text: about 40 bytes a line, some indentation, some blank lines.
  const shapes = [
    (i) => `static int step_${i}(struct state *s, int n) {`,
    (i) => `    if (s->count[${i % 64}] > n && !s->done) {`,
    (i) => `        s->total += compute(s, ${i});`,
    () => '    }',
    () => '',
    (i) => `    return s->total % ${i + 7};`,
    () => '}',
  ];
  for (let i = 0; i < 50000; i++) {
    lines.push(shapes[i % shapes.length](i));
    const v = ((i * 2654435761) >>> 0) % 1000 / 1000;
    heat.push(Math.round(v * 10000) / 10000);
    cv.push(Math.round(v * 1200) / 100);
  }
  const bytes = new TextEncoder().encode(lines.join('\n'));
  let bin = '';
  for (let i = 0; i < bytes.length; i += 0x8000) bin += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return { type: 'setCode', path, code_b64: btoa(bin), lineHeat: heat, lineCV: cv, fileHeatCV: 300000 };
};

test('50,000-line file: first paint, refresh and jump stay fast and virtual', async () => {
  const { page, pageErrors } = await h.openPage(browser);
  await h.deliver(page, { type: 'setProject', projectName: 'monorepo', totalLOC: 50000,
    files: [{ path: '/home/dev/monorepo/big.c', name: 'big.c', heat01: 1, heatCV: 300000 }] });
  const first = [];
  // A different path each time, so every delivery is a fresh file.
  for (let k = 0; k < 3; k++) first.push(await deliverBuilt(page, bigFile, `/home/dev/monorepo/big${k}.c`));
  report('setCode with 50,000 lines (new file)', first);
  assert.ok(median(first) < 1000, 'far slower than expected');

  await page.evaluate(() => { document.getElementById('code').scrollTop = 25000 * 20; });
  await h.nextPaint(page);
  const refresh = await deliverBuilt(page, bigFile, '/home/dev/monorepo/big2.c');
  console.log(`setCode refresh of the same 50,000-line file: ${refresh.toFixed(1)} ms`);
  const state = await page.evaluate(() => ({
    top: document.getElementById('code').scrollTop,
    rows: [...document.querySelectorAll('#code .cl')].filter((r) => r.style.display !== 'none').map((r) => Number(r.dataset.line)),
  }));
  assert.equal(state.top, 500000);
  assert.ok(state.rows.length < 150, `${state.rows.length} line elements in the DOM`);
  assert.ok(state.rows.includes(25001), 'line 25001 is shown after the refresh');
  assert.deepEqual(pageErrors, []);
  await page.close();
});
