'use strict';
const test = require('node:test');
const assert = require('node:assert');
const { loadScripts } = require('./scripts');

const get = loadScripts('helpers.js', 'heat-colours.js', 'heat-scale.js');
const logScale = get('logScale'), percentile95 = get('percentile95'), inferno = get('inferno');
const tickValues = get('tickValues'), tickExtent = get('tickExtent'), fileHeat = get('fileHeat'), scale = get('scale');

test('the log scale: the host formula from 0, clamped, monotone, and low to top from 0 to 1', () => {
  assert.strictEqual(logScale(9, 99), Math.log(10) / Math.log(100));
  for (const [v, want] of [[0, 0], [-5, 0], [NaN, 0], [50, 1], [1e12, 1]]) assert.strictEqual(logScale(v, 50), want, `v=${v}`);
  assert.strictEqual(logScale(10, 1000, 10), 0);
  assert.ok(Math.abs(logScale(1000, 1000, 10) - 1) < 1e-12);
  let prev = -1;
  for (let v = 0; v <= 2000; v += 0.5) {
    const t = logScale(v, 1500, 3);
    assert.ok(t >= prev && t >= 0 && t <= 1, `v=${v}`);
    prev = t;
  }
});

test('the 95th percentile takes the lower neighbour, sorts, keeps the floor, and has a default', () => {
  const values = Array.from({ length: 100 }, (_, i) => 100 - i);  // 100..1, unsorted
  assert.strictEqual(percentile95(values, 0, 7), 95);
  assert.strictEqual(percentile95([3, 1, 2], 0, 7), 2);
  assert.strictEqual(percentile95([0.5, 0.2], 1, 7), 1);
  assert.strictEqual(percentile95([], 1, 7), 7);
});

test('the colour ramp runs from the inferno map\'s first to its last colour and clamps outside', () => {
  assert.deepStrictEqual(Array.from(inferno(0)), [0, 0, 4]);
  assert.deepStrictEqual(Array.from(inferno(1)), [0xfc, 0xff, 0xa4]);
  assert.deepStrictEqual(Array.from(inferno(-3)), Array.from(inferno(0)));
  assert.deepStrictEqual(Array.from(inferno(7)), Array.from(inferno(1)));
  assert.deepStrictEqual(Array.from(inferno(0.05)), [(0 + 0x16) / 2, (0 + 0x0b) / 2, (4 + 0x39) / 2]);
});

test('legend ticks: ascending, inside the scale, from 0 when it starts there, labels apart', () => {
  for (const [top, low] of [[50, 0], [1234, 0], [87000, 87], [3.2e6, 3200], [1, 0]]) {
    const ticks = Array.from(tickValues(top, low));
    assert.ok(ticks.length >= 2, `${top}: ${ticks}`);
    assert.strictEqual(ticks[0] === 0, low === 0, `${top}: ${ticks}`);
    const spans = ticks.map((v) => tickExtent(v, top, low));
    ticks.forEach((v, k) => {
      assert.ok(v >= low && v <= top, `${top}: ${ticks}`);
      if (k) assert.ok(v > ticks[k - 1] && spans[k][0] >= spans[k - 1][1] + 8, `${top}: ${ticks}`);
    });
  }
  assert.deepStrictEqual(Array.from(tickValues(0, 0)), []);
  assert.deepStrictEqual(Array.from(tickValues(Infinity, 0)), []);
});

test('a file\'s heat: the host\'s value on the file scale, a sliver above nothing on the project scale', () => {
  Object.assign(scale, { mode: 'project', fileTop: 1e5, fileLow: 100 });
  assert.strictEqual(fileHeat({ heatCV: 0, heat01: 0.4 }), 0);
  assert.strictEqual(fileHeat({ heatCV: 5, heat01: 0.4 }), 1e-3);
  assert.strictEqual(fileHeat({ heatCV: 1e5, heat01: 0.4 }), 1);
  scale.mode = 'file';
  assert.strictEqual(fileHeat({ heatCV: 1e5, heat01: 0.4 }), 0.4);
});
