// ---------------------------------------------------------------- history and hotspots
// The host reads the folder's git history in the background and sends it when
// it has it; until then (and for a folder without history) the page works as
// before. A file's score is its heat percentile times its change percentile.
const hot = {
  state: '',              // '', 'read' or 'none': what the page has
  reading: null,          // { done, total } while the host reads
  reason: '', since: '', commits: 0,
  files: [],              // { path, score, heatPct, changePct, changes, authors, last } in score order
  byPath: new Map(),
  gen: 0,
  lineBy: 'heat',         // code view colour: 'heat', 'changes' or 'hotspot'
  mapBy: 'heat',          // overview map colour: 'heat' or 'hotspot'
  layout: null, focus: -1,
};
const HOT_PAD = { l: 46, r: 18, t: 18, b: 38 };

const dayOf = (d) => { const t = typeof d === 'string' ? Date.parse(d + 'T00:00:00Z') : NaN; return Number.isFinite(t) ? t : 0; };

function onSetHistory(d) {
  if (d.state === 'reading') {
    const done = Math.max(0, num(d.done)), total = Math.max(0, num(d.total));
    // An update keeps what is shown; 0 of 0 is another folder, whose history is not there yet.
    hot.reading = done < total || !total ? { done, total } : null;
    if (!total) { hot.state = ''; hot.files = []; hot.byPath = new Map(); hot.gen++; }
  } else if (d.state === 'none') {
    hot.state = 'none'; hot.reading = null; hot.reason = str(d.reason) || 'no history';
    hot.files = []; hot.byPath = new Map(); hot.gen++;
  } else if (d.state === 'read') {
    hot.state = 'read'; hot.reading = null; hot.reason = str(d.reason); hot.since = str(d.since); hot.commits = Math.max(0, num(d.commits));
    hot.files = [];
    for (const r of Array.isArray(d.files) ? d.files : []) {
      if (!r || typeof r.path !== 'string' || !r.path) continue;
      hot.files.push({ path: r.path, score: clamp01(num(r.score)), heatPct: clamp01(num(r.heatPct)), changePct: clamp01(num(r.changePct)),
        changes: Math.max(0, Math.floor(num(r.changes))), authors: Math.max(0, Math.floor(num(r.authors))), last: str(r.lastChange) });
    }
    hot.byPath = new Map(hot.files.map((f) => [f.path, f]));
    hot.focus = Math.min(hot.focus, hot.files.length - 1);
    hot.gen++;
  } else {
    return;
  }
  renderHistoryState();
  if (S.view === 'hotspots') drawHotspots();
  if (hot.mapBy === 'hotspot') { map.drawn = ''; scheduleMap(); }
}

function historyText() {
  const r = hot.reading;
  if (r) return 'Reading history \u2026' + (r.total > 0 ? ' ' + countText(r.done) + ' of ' + countText(r.total) + ' commits' : '');
  if (hot.state === 'none') return 'No history: ' + hot.reason;
  if (hot.state === 'read') return 'History: ' + countText(hot.commits) + (hot.commits === 1 ? ' commit' : ' commits') + (hot.since ? ' since ' + hot.since : '') + (hot.reason ? ' (' + hot.reason + ')' : '');
  return '';
}

function renderHistoryState() {
  const text = historyText(), read = hot.state === 'read';
  $('historyState').textContent = text;
  $('historyState').title = text;
  $('lineBy').hidden = !read;
  $('mapBy').hidden = !read;
  if (!read && hot.lineBy !== 'heat') setLineBy('heat');
  if (!read && hot.mapBy !== 'heat') setMapBy('heat');
}

// ---------------------------------------------------------------- per-line history
// Runs of [length, changes, last change]; lines past the last run did not change.
function onSetLineHistory(d) {
  const c = S.code;
  if (!c || str(d.path) !== c.path) return;
  const n = c.lines.length, changes = new Uint32Array(n), last = new Array(n).fill('');
  let i = 0;
  for (const r of Array.isArray(d.runs) ? d.runs : []) {
    if (!Array.isArray(r)) continue;
    const len = Math.max(0, Math.floor(num(r[0]))), k = Math.max(0, Math.floor(num(r[1]))), when = str(r[2]);
    for (const end = Math.min(n, i + len); i < end; i++) { changes[i] = k; last[i] = when; }
  }
  c.hist = { changes, last };
  applyLineBy(c, true);
  renderWhy();
}

// The measure the code view colours lines by, on 0..1 for this file.
function lineMeasure(c, by) {
  const n = c.lines.length, out = new Float32Array(n), ch = c.hist.changes;
  let top = 0;
  const v = (i) => (by === 'changes' ? ch[i] : c.cv[i] * ch[i]);
  for (let i = 0; i < n; i++) top = Math.max(top, v(i));
  for (let i = 0; top > 0 && i < n; i++) out[i] = Math.log1p(v(i)) / Math.log1p(top);
  return { heat: out, top };
}

function applyLineBy(c, repaint) {
  applyLineScale(c, false);
  if (hot.lineBy !== 'heat' && c.hist) c.heat = lineMeasure(c, hot.lineBy).heat;
  renderLineByLegend();
  if (repaint) { renderCode(true); drawOverview(); }
}

function setLineBy(by) {
  hot.lineBy = by === 'changes' || by === 'hotspot' ? by : 'heat';
  for (const [id, v] of [['lineByHeat', 'heat'], ['lineByChanges', 'changes'], ['lineByHotspot', 'hotspot']]) $(id).setAttribute('aria-pressed', hot.lineBy === v ? 'true' : 'false');
  if (S.code) applyLineBy(S.code, true); else renderLineByLegend();
}

function renderLineByLegend() {
  const c = S.code;
  // The heat legend says nothing about these colours: this one stands in for it.
  const shown = hot.lineBy !== 'heat' && c && c.hist;
  $('lineLegend').hidden = !!shown;
  $('lineByLegend').hidden = !shown;
  if (!shown) return;
  paintRamp($('lineByRamp'));
  const top = lineMeasure(c, hot.lineBy).top;
  $('lineByText').textContent = 'Lines: 0 \u2192 ' + (hot.lineBy === 'changes' ? fmtInt(top) + ' changes' : fmt2(top) + ' heat \u00d7 changes');
}

// For the Why panel and the line's tooltip.
function lineHistoryText(i) {
  const c = S.code;
  if (!c || !c.hist || i < 0 || i >= c.hist.changes.length) return '';
  const k = c.hist.changes[i];
  if (!k) return 'Not changed in the window' + (hot.since ? ' (since ' + hot.since + ')' : '');
  return 'Changed ' + (k === 1 ? 'once' : fmtInt(k) + ' times') + ' in the window, last on ' + c.hist.last[i];
}

// ---------------------------------------------------------------- the scatter plot
// x: heat percentile, y: change percentile (up), area: lines. Pure: sizes in CSS pixels.
function scatterLayout(files, linesOf, W, H, pad) {
  const pw = Math.max(1, W - pad.l - pad.r), ph = Math.max(1, H - pad.t - pad.b);
  let most = 1;
  for (const f of files) most = Math.max(most, linesOf(f));
  // Centres stay one largest radius inside the frame, so no point is cut;
  // the middle, where the quadrant lines run, stays where it was.
  const inset = Math.min(13.5, pw / 4, ph / 4);
  const pts = files.map((f) => ({
    x: pad.l + inset + clamp01(f.heatPct) * (pw - 2 * inset),
    y: pad.t + inset + (1 - clamp01(f.changePct)) * (ph - 2 * inset),
    r: 2.5 + 11 * Math.sqrt(Math.max(0, linesOf(f)) / most),
  }));
  return { pw, ph, pts };
}

// The point under (x, y): the one whose edge is nearest, within 3 pixels.
function scatterHit(pts, x, y) {
  let best = -1, bestGap = 3;
  for (let k = 0; k < pts.length; k++) {
    const p = pts[k], gap = Math.hypot(p.x - x, p.y - y) - p.r;
    if (gap <= bestGap) { best = k; bestGap = gap; }
  }
  return best;
}

// Recent changes take the hot end of the ramp; a file unchanged in the window is grey.
function ageColour(f, sinceT, nowT) {
  const t = dayOf(f.last);
  if (!t || !f.changes) return cssVar('--faint');
  return heatFill(nowT > sinceT ? clamp01((t - sinceT) / (nowT - sinceT)) : 1);
}

function projectLines() {
  const lines = new Map();
  if (S.project) for (const f of S.project.files) lines.set(f.path, f.lines || 0);
  return (f) => lines.get(f.path) || 0;
}

function drawHotspots() {
  const box = $('hotBox'), canvas = $('hotCanvas');
  const note = hot.state === 'read' ? (hot.files.length ? '' : 'No files to plot.') : historyText() || 'The history is read once the project is open.';
  const quad = hot.files.filter((f) => f.heatPct >= 0.5 && f.changePct >= 0.5).length;
  $('hotNote').textContent = note;
  $('hotNote').hidden = !note;
  $('hotHead').textContent = hot.state === 'read' ? historyText() + '  \u00b7  ' + fmtInt(quad) + (quad === 1 ? ' file' : ' files') + ' hot and changing' : '';
  const dpr = Math.min(2, window.devicePixelRatio || 1), W = box.clientWidth, H = box.clientHeight;
  canvas.width = Math.max(1, Math.round(W * dpr)); canvas.height = Math.max(1, Math.round(H * dpr));
  const ctx = canvas.getContext('2d');
  ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
  ctx.clearRect(0, 0, W, H);
  hot.layout = null;
  if (hot.state !== 'read' || !hot.files.length) return;
  const lay = scatterLayout(hot.files, projectLines(), W, H, HOT_PAD);
  hot.layout = lay;
  const x0 = HOT_PAD.l, y0 = HOT_PAD.t, midX = x0 + lay.pw / 2, midY = y0 + lay.ph / 2;
  // The quadrant that matters: hot and changing.
  ctx.fillStyle = heatTint(0.55);
  ctx.fillRect(midX, y0, lay.pw / 2, lay.ph / 2);
  ctx.strokeStyle = cssVar('--border'); ctx.lineWidth = 1;
  ctx.strokeRect(x0 + 0.5, y0 + 0.5, lay.pw, lay.ph);
  ctx.beginPath(); ctx.moveTo(midX, y0); ctx.lineTo(midX, y0 + lay.ph); ctx.moveTo(x0, midY); ctx.lineTo(x0 + lay.pw, midY); ctx.stroke();
  ctx.font = '11px ' + cssVar('--font-ui'); ctx.fillStyle = cssVar('--muted'); ctx.textBaseline = 'middle';
  ctx.textAlign = 'right'; ctx.fillText('Hot and changing', x0 + lay.pw, y0 - 8);
  ctx.textAlign = 'center'; ctx.fillText('Heat (percentile) \u2192', midX, y0 + lay.ph + 22);
  ctx.save(); ctx.translate(x0 - 24, midY); ctx.rotate(-Math.PI / 2); ctx.fillText('Change frequency (percentile) \u2192', 0, 0); ctx.restore();
  ctx.textAlign = 'left';
  const sinceT = dayOf(hot.since), nowT = Date.now();
  // Large points first, so that small ones stay visible on top.
  const order = lay.pts.map((_, k) => k).sort((a, b) => lay.pts[b].r - lay.pts[a].r);
  for (const k of order) {
    const p = lay.pts[k];
    ctx.globalAlpha = 0.85;
    ctx.fillStyle = ageColour(hot.files[k], sinceT, nowT);
    ctx.beginPath(); ctx.arc(p.x, p.y, p.r, 0, 2 * Math.PI); ctx.fill();
  }
  ctx.globalAlpha = 1;
  const f = hot.files[hot.focus], p = lay.pts[hot.focus];
  if (f && p) {
    ctx.strokeStyle = cssVar('--accent'); ctx.lineWidth = 2;
    ctx.beginPath(); ctx.arc(p.x, p.y, p.r + 3, 0, 2 * Math.PI); ctx.stroke();
  }
}

function hotTip(k, x, y) {
  const tip = $('hotTip'), f = hot.files[k];
  if (!f) { tip.style.display = 'none'; return; }
  const text = relPath(f.path) + '\nscore ' + fmt2(f.score) + '  \u00b7  heat ' + pct(f.heatPct) + '  \u00b7  changes ' + fmtInt(f.changes) +
    (f.last ? ', last on ' + f.last : '');
  tip.textContent = text;
  tip.style.display = 'block';
  const box = $('hotBox').getBoundingClientRect();
  tip.style.transform = 'translate(' + Math.max(0, Math.min(x + 14, box.width - tip.offsetWidth - 4)) + 'px,' +
    (y + 16 + tip.offsetHeight > box.height ? y - tip.offsetHeight - 8 : y + 16) + 'px)';
  $('status').textContent = text.replace('\n', '  \u00b7  ');
}

function hotPoint(e) {
  const r = $('hotCanvas').getBoundingClientRect();
  return hot.layout ? scatterHit(hot.layout.pts, e.clientX - r.left, e.clientY - r.top) : -1;
}

// Up and Down step through the files by score, as the audit's rows; Enter opens.
function hotKeys(e) {
  if (e.key === 'Escape') { showView('code'); code.el.focus(); e.preventDefault(); return true; }
  const n = hot.files.length;
  if (!n) return false;
  let k = hot.focus;
  switch (e.key) {
    case 'ArrowDown': k = Math.min(n - 1, k + 1); break;
    case 'ArrowUp': k = Math.max(0, k - 1); break;
    case 'Home': k = 0; break;
    case 'End': k = n - 1; break;
    case 'Enter': if (k >= 0) { openPath(hot.files[k].path, 0); e.preventDefault(); return true; } return false;
    default: return false;
  }
  e.preventDefault();
  hot.focus = k;
  drawHotspots();
  const p = hot.layout && hot.layout.pts[k];
  if (p) hotTip(k, p.x, p.y);
  return true;
}

function setMapBy(by) {
  hot.mapBy = by === 'hotspot' ? 'hotspot' : 'heat';
  $('mapByHeat').setAttribute('aria-pressed', hot.mapBy === 'heat' ? 'true' : 'false');
  $('mapByHotspot').setAttribute('aria-pressed', hot.mapBy === 'hotspot' ? 'true' : 'false');
  map.drawn = ''; scheduleMap();
}

// The overview map's colour of a file: its heat, or its hotspot score.
function mapColour(f) {
  if (hot.mapBy !== 'hotspot') return fileHeat(f);
  const h = hot.byPath.get(f.path);
  return h ? h.score : 0;
}

function initHotspots() {
  const canvas = $('hotCanvas');
  canvas.addEventListener('mousemove', (e) => {
    const k = hotPoint(e), r = $('hotBox').getBoundingClientRect();
    canvas.style.cursor = k >= 0 ? 'pointer' : '';
    hotTip(k, e.clientX - r.left, e.clientY - r.top);
  });
  canvas.addEventListener('mouseleave', () => { $('hotTip').style.display = 'none'; });
  canvas.addEventListener('click', (e) => {
    const k = hotPoint(e);
    if (k >= 0) { hot.focus = k; openPath(hot.files[k].path, 0); }
  });
  canvas.addEventListener('keydown', (e) => { if (hotKeys(e)) e.stopPropagation(); });
  $('tabHot').addEventListener('click', () => showView('hotspots'));
  $('lineByHeat').addEventListener('click', () => setLineBy('heat'));
  $('lineByChanges').addEventListener('click', () => setLineBy('changes'));
  $('lineByHotspot').addEventListener('click', () => setLineBy('hotspot'));
  $('mapByHeat').addEventListener('click', () => setMapBy('heat'));
  $('mapByHotspot').addEventListener('click', () => setMapBy('hotspot'));
  // The scale buttons recolour by heat; a line colour chosen here stays.
  for (const id of ['scaleProject', 'scaleFile']) $(id).addEventListener('click', () => { if (S.code && hot.lineBy !== 'heat') applyLineBy(S.code, true); });
  new ResizeObserver(() => { if (S.view === 'hotspots') drawHotspots(); }).observe($('hotBox'));
  renderHistoryState();
}
