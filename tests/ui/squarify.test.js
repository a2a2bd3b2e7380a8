'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { loadScripts } = require('./scripts');

const squarify = loadScripts('overview-map.js')('squarify');

function layout(values, w, h) {
  const rects = [];
  squarify(values, 10, 20, w, h, (k, x, y, rw, rh) => rects.push({ k, x, y, w: rw, h: rh }));
  return rects;
}

// Every positive value once, in proportion, inside the box, without overlaps, filling it.
function checkTiling(values, w, h) {
  // Rows are placed by subtraction, so a sliver beside a huge value may stick out by a hair.
  const rects = layout(values, w, h), eps = 1e-9 * w * h, tol = 1e-6 * (w + h);
  const total = values.reduce((a, v) => a + (v > 0 ? v : 0), 0);
  assert.deepStrictEqual(rects.map((r) => r.k).sort((a, b) => a - b), values.flatMap((v, k) => (v > 0 ? [k] : [])));
  let area = 0;
  for (const r of rects) {
    assert.ok(Math.abs(r.w * r.h - (values[r.k] / total) * w * h) <= eps, `item ${r.k}`);
    assert.ok(r.x >= 10 - tol && r.y >= 20 - tol && r.x + r.w <= 10 + w + tol && r.y + r.h <= 20 + h + tol, `item ${r.k}`);
    area += r.w * r.h;
  }
  assert.ok(Math.abs(area - w * h) <= eps);
  for (let a = 0; a < rects.length; a++) {
    for (let b = a + 1; b < rects.length; b++) {
      const p = rects[a], q = rects[b];
      const ox = Math.min(p.x + p.w, q.x + q.w) - Math.max(p.x, q.x), oy = Math.min(p.y + p.h, q.y + q.h) - Math.max(p.y, q.y);
      assert.ok(ox <= tol || oy <= tol, `items ${p.k} and ${q.k} overlap`);
    }
  }
  return rects;
}

test('squarify tiles the box in proportion to the values', () => {
  let seed = 7;
  const rnd = () => (seed = (seed * 16807) % 2147483647) / 2147483647;
  checkTiling(Array.from({ length: 200 }, () => Math.ceil(rnd() ** 4 * 5000)).sort((a, b) => b - a), 900, 600);
  checkTiling([5, 1, 9, 2, 2, 7], 300, 40);
  checkTiling([1e9, 1, 1], 800, 600);
  checkTiling([3, 0, 2, -4, NaN, 1, 0], 120, 400);
});

test('squarify gives equal values in a square box unit squares, and one value the whole box', () => {
  for (const r of checkTiling(new Array(16).fill(3), 4, 4)) assert.ok(Math.abs(r.w - 1) < 1e-9 && Math.abs(r.h - 1) < 1e-9);
  const [one, ...more] = layout([42], 300, 200);
  assert.ok(!more.length && one.x === 10 && one.y === 20 && Math.abs(one.w - 300) < 1e-9 && Math.abs(one.h - 200) < 1e-9);
});

test('squarify draws nothing for no values, only zeros, or an empty box', () => {
  assert.deepStrictEqual(layout([], 100, 100), []);
  assert.deepStrictEqual(layout([0, 0], 100, 100), []);
  assert.deepStrictEqual(layout([1, 2], 0, 100), []);
  assert.deepStrictEqual(layout([1, 2], 100, -5), []);
});
