// ---------------------------------------------------------------- heat scale
// "project": every line and every file on one log scale for the whole project, so
// the same raw heat has the same colour in every file. "file": the host's values,
// each file's lines against that file's own 95th percentile.
const LINE_TOP_PER_MEAN = 20;  // real trees: the hottest lines sit at 15-40 times the mean line heat
const LINE_TOP_MIN = 50;
const FILE_DECADES = 3;        // file heat spans several decades; the top three get the ramp
const LEGEND_PX = 160, LEGEND_CHAR_PX = 5.6, LEGEND_GAP_PX = 8;  // ramp width, tick label size
const scale = { mode: 'project', lineTop: LINE_TOP_MIN, fileTop: 1, fileLow: 0, fileRef: 0 };
// Log scale from low (0 on the ramp) to top (1); with low 0 it is the host's formula.
const logScale = (v, top, low = 0) => (v > 0 ? clamp01(Math.log((1 + v) / (1 + low)) / Math.log((1 + top) / (1 + low))) : 0);

// The host's reference: the 95th percentile at the lower neighbour, never below floor.
function percentile95(values, floor, dflt) {
  if (!values.length) return dflt;
  const s = Float64Array.from(values).sort();
  return Math.max(s[Math.floor(((s.length - 1) * 95) / 100)], floor);
}

// The file scale tops out at the hottest file, so the top files still differ;
// the line scale at a multiple of the project's mean line heat (the messages
// carry no project-wide line figures beyond the line total and the file sums).
function setProjectScale(p) {
  let sum = 0, max = 0;
  for (const f of p.files) if (f.heatCV > 0) { sum += f.heatCV; if (f.heatCV > max) max = f.heatCV; }
  const lineTop = Math.max(LINE_TOP_MIN, p.totalLOC > 0 ? (LINE_TOP_PER_MEAN * sum) / p.totalLOC : 0);
  const changed = lineTop !== scale.lineTop;
  scale.fileTop = Math.max(1, max);
  scale.fileLow = scale.fileTop / Math.pow(10, FILE_DECADES);
  scale.lineTop = lineTop;
  scale.fileRef = 0;
  map.tree = null;
  if (changed && S.code && scale.mode === 'project') applyLineScale(S.code, true);
  renderLegend();
}

// A file below the scale's low end keeps a sliver, so no heat and little heat differ.
const fileHeat = (f) => (scale.mode === 'file' ? f.heat01
  : f.heatCV > 0 ? Math.max(1e-3, logScale(f.heatCV, scale.fileTop, scale.fileLow)) : 0);
const scaleWord = () => (scale.mode === 'file' ? 'this file\u2019s scale' : 'the project scale');

// Heat density: raw heat per line, over at least DENSITY_MIN_LINES lines (about a
// screen), so a file of a few lines with one hot line does not top the list.
const DENSITY_MIN_LINES = 50, DENSITY_DECADES = 2;
const densityOf = (f) => (f.heatCV > 0 ? f.heatCV / Math.max(f.lines || 0, DENSITY_MIN_LINES) : 0);
// The densest file in the scope on screen tops the bars.
function densityTop() {
  const p = S.project;
  if (!p.densityTop) {
    const leftOut = scopeLeavesOut();
    let top = 0;
    for (let i = 0; i < p.files.length; i++) {
      if (!leftOut || !leftOut(i)) top = Math.max(top, densityOf(p.files[i]));
    }
    p.densityTop = Math.max(top, 1e-9);
  }
  return p.densityTop;
}
// The list's bar and figure follow the ranking.
const listHeat = (f) => (S.rank !== 'density' ? fileHeat(f)
  : f.heatCV > 0 ? Math.max(1e-3, logScale(densityOf(f), densityTop(), densityTop() / Math.pow(10, DENSITY_DECADES))) : 0);
const listFigure = (f) => fmt2(S.rank === 'density' ? densityOf(f) : f.heatCV);

// Fills c.heat for the active scale.
function applyLineScale(c, repaint) {
  if (scale.mode === 'file') {
    c.heat = c.hostHeat;
  } else {
    c.heat = new Float32Array(c.cv.length);
    for (let i = 0; i < c.cv.length; i++) c.heat[i] = logScale(c.cv[i], scale.lineTop);
  }
  if (repaint) { renderCode(true); drawOverview(); renderCodeInfo(); }
}

// The starts of the hot regions that [ and ] visit: runs of lines at or above
// the file's 90th percentile of raw heat (and above 0), one stop per run, so
// that a hot block is one stop and not one per branch.
function hotRegions(c) {
  const cv = c.cv, n = cv.length;
  c.hot = [];
  if (!n) return;
  const sorted = Float64Array.from(cv).sort();
  c.hotCut = Math.max(sorted[Math.floor((n - 1) * 0.9)], Number.MIN_VALUE);
  for (let i = 0; i < n; i++) if (cv[i] >= c.hotCut && (i === 0 || cv[i - 1] < c.hotCut)) c.hot.push(i);
}

function setScaleMode(mode) {
  scale.mode = mode === 'file' ? 'file' : 'project';
  $('scaleProject').setAttribute('aria-pressed', scale.mode === 'project' ? 'true' : 'false');
  $('scaleFile').setAttribute('aria-pressed', scale.mode === 'file' ? 'true' : 'false');
  if (S.code) applyLineScale(S.code, true);
  renderList(true);
  renderLegend();
  map.tree = null; scheduleMap();
}

// Powers of ten, the top of the scale (rounded down), then fives and twos while room is left.
function tickValues(top, low) {
  if (!(top > low) || !Number.isFinite(top)) return [];
  const picked = low > 0 ? [] : [0];
  const apart = (v) => {
    const [a0, a1] = tickExtent(v, top, low);
    return picked.every((w) => { const [b0, b1] = tickExtent(w, top, low); return a1 + LEGEND_GAP_PX <= b0 || b1 + LEGEND_GAP_PX <= a0; });
  };
  const decade = Math.pow(10, Math.floor(Math.log10(top)));
  const topTick = Math.floor(top / decade * 10) * decade / 10;
  for (const m of [1, 0, 5, 2]) {
    if (m > 1 && picked.length >= 4) break;
    for (let k = 0; k < (m ? 6 : 1); k++) {
      const v = Number((m ? m * decade / Math.pow(10, k) : topTick).toPrecision(2));
      if (v <= top && v >= low && apart(v)) picked.push(v);
    }
  }
  return picked.sort((a, b) => a - b);
}
// Where a tick's label lies on the ramp, in pixels: left-aligned at the start, right-aligned near the end.
const tickAlign = (t) => (t === 0 ? 0 : t > 0.9 ? 1 : 0.5);
function tickExtent(v, top, low) {
  const x = logScale(v, top, low) * LEGEND_PX, w = tickLabel(v).length * LEGEND_CHAR_PX;
  const left = x - w * tickAlign(x / LEGEND_PX);
  return [left, left + w];
}
const tickLabel = (v) => (v >= 1e6 ? +(v / 1e6).toPrecision(2) + 'M' : v >= 1e3 ? +(v / 1e3).toPrecision(3) + 'k' : String(v));

function renderTicks(el, top, low) {
  el.textContent = '';
  for (const v of tickValues(top, low)) {
    const t = logScale(v, top, low), tick = document.createElement('span');
    tick.textContent = tickLabel(v);
    tick.dataset.value = v;
    tick.style.left = (t * 100).toFixed(2) + '%';
    tick.classList.toggle('start', tickAlign(t) === 0);
    tick.classList.toggle('end', tickAlign(t) === 1);
    el.appendChild(tick);
  }
}

// The legend's ticks are raw heat values placed where the active scale puts them.
function renderLegend() {
  const c = S.code, p = S.project;
  let lineTop = 0, fileTop = 0, fileLow = 0;
  if (scale.mode === 'project') {
    if (p) { lineTop = scale.lineTop; fileTop = scale.fileTop; fileLow = scale.fileLow; }
  } else {
    if (c) {
      if (!c.ref) c.ref = percentile95(Array.prototype.filter.call(c.cv, (v) => v > 0), 1e-9, 1);
      lineTop = c.ref;
    }
    if (p) {
      if (!scale.fileRef) scale.fileRef = percentile95(p.files.map((f) => f.heatCV), 1, 1);
      fileTop = scale.fileRef;
    }
  }
  renderTicks($('lineTicks'), lineTop, 0);
  renderTicks($('fileTicks'), fileTop, fileLow);
}
