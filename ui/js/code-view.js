// ---------------------------------------------------------------- code view
const code = { el: null, spacer: null, lineH: 20, charW: 7.5, pool: [], height: 0, width: 0, noW: 48, fontPx: 12.5, k: 1, vTop: 0 };

function onSetCode(d) {
  const path = str(d.path);
  const opening = S.opening;
  S.opening = '';
  if (!path) {
    // The host answers a file it does not have with an empty view.
    if (opening) setStatus('Cannot open ' + relPath(opening) + ': not in the project');
    S.code = null; S.mark = -1;
    if (scale.mode === 'file') renderLegend();
    if (!S.pendingJump) S.selected = '';
    renderList(false);
    renderCode(true);
    renderCodeInfo();
    drawOverview();
    return;
  }
  const text = utf8Lenient.decode(base64ToBytes(str(d.code_b64)));
  const lines = text.split('\n');
  const n = lines.length;
  const heat = new Float32Array(n), cv = new Float64Array(n);
  const lh = Array.isArray(d.lineHeat) ? d.lineHeat : [];
  const lc = Array.isArray(d.lineCV) ? d.lineCV : [];
  for (let i = 0, m = Math.min(n, lh.length); i < m; i++) heat[i] = clamp01(num(lh[i]));
  for (let i = 0, m = Math.min(n, lc.length); i < m; i++) cv[i] = num(lc[i]);
  let maxCols = 0;
  for (let i = 0; i < n; i++) {
    let s = lines[i];
    if (s.charCodeAt(s.length - 1) === 13) { s = s.slice(0, -1); lines[i] = s; }
    let cols = s.length;
    if (cols * 4 > maxCols) {   // only then can its tabs make it the widest
      for (let t = s.indexOf('\t'); t >= 0; t = s.indexOf('\t', t + 1)) cols += 3;
      if (cols > maxCols) maxCols = cols;
    }
  }

  const samePath = !!(S.code && S.code.path === path);
  // A refresh of another file may come first; the jump waits for its own file.
  const jump = S.pendingJump && S.pendingJump.path === path ? S.pendingJump.line : 0;
  if (jump) S.pendingJump = null;
  S.code = { path, lines, heat, hostHeat: heat, cv, fileCV: num(d.fileHeatCV), maxCols: Math.min(maxCols, MAX_COLS + 2), hot: [], hotCut: 0, ref: 0 };
  hotRegions(S.code);
  applyLineScale(S.code, false);
  if (scale.mode === 'file') renderLegend();
  S.selected = path;
  if (!samePath) S.mark = -1;
  if (S.mark >= n) S.mark = -1;
  layoutCode();
  if (find.open) runFind(samePath);
  if (jump > 0) {
    S.mark = Math.min(jump, n) - 1;
    scrollToLine(S.mark, true);
  } else if (!samePath) {
    setCodeTop(0);
    code.el.scrollLeft = 0;
  }
  renderCode(true);
  renderCodeInfo();
  drawOverview();
  renderList(false);
  if (!samePath || jump) setStatus(jump ? 'Line ' + fmtInt(S.mark + 1) + ' of ' + relPath(path) : relPath(path));
  else setStatus(statusNow());  // an edit: hover and audit texts are stale now
  if (jump) flashMark();
  if (jump) requestWhy(S.mark, true); else renderWhy();
}

const MAX_COLS = 4000;  // longer lines (minified code) are cut for display

function layoutCode() {
  const c = S.code;
  const digits = c ? String(c.lines.length).length : 2;
  code.noW = Math.ceil(Math.max(3, digits) * code.charW + 22);
  code.el.style.setProperty('--no-w', code.noW + 'px');
  const total = c ? c.lines.length * code.lineH : 0;
  code.spacer.style.height = Math.min(total, MAX_SCROLL_PX) + 'px';
  code.k = scrollK();
  code.spacer.style.width = (c ? Math.ceil(code.noW + 3 + 28 + c.maxCols * code.charW) : 0) + 'px';
}

function codeRow() {
  const row = document.createElement('div');
  row.className = 'cl';
  const no = document.createElement('span'); no.className = 'no';
  const tx = document.createElement('span'); tx.className = 'tx';
  row.append(no, tx);
  row._v = { no, tx, idx: -2, gen: -1 };
  row.style.display = 'none';
  code.spacer.appendChild(row);
  return row;
}

let codeGen = 0;
function renderCode(contentChanged) {
  if (contentChanged) codeGen++;
  const c = S.code;
  $('codeEmpty').classList.toggle('show', !c);
  const n = c ? c.lines.length : 0, lineH = code.lineH;
  if (!code.height) code.height = code.el.clientHeight;
  const top = codeTop(), shift = code.el.scrollTop - top;  // 0 unless the track is scaled
  const first = Math.max(0, Math.floor(top / lineH) - 6);
  const last = Math.min(n, Math.ceil((top + code.height) / lineH) + 6);
  const count = Math.max(0, last - first);
  while (code.pool.length < count) code.pool.push(codeRow());
  for (let k = 0; k < code.pool.length; k++) {
    const row = code.pool[k], v = row._v;
    if (k >= count) { if (v.idx !== -2) { row.style.display = 'none'; v.idx = -2; } continue; }
    const i = first + k;
    const marked = i === S.mark, y = i * lineH + shift;
    if (v.y !== y) { v.y = y; row.style.transform = 'translateY(' + y + 'px)'; }
    if (v.idx === i && v.gen === codeGen && v.marked === marked) continue;
    if (v.idx === -2) row.style.display = '';
    v.idx = i; v.gen = codeGen; v.marked = marked;
    const h = c.heat[i];
    row.style.background = h > 0 ? heatTint(h) : '';
    v.no.style.borderRightColor = h > 0 ? heatFill(h) : 'transparent';
    v.no.textContent = i + 1;
    const s = c.lines[i];
    fillFindMarks(v.tx, s.length > MAX_COLS ? s.slice(0, MAX_COLS) : s, i);
    if (s.length > MAX_COLS) {
      const cut = document.createElement('span');
      cut.className = 'cut';
      cut.textContent = ' \u2026 ' + fmtInt(s.length - MAX_COLS) + ' more characters';
      v.tx.appendChild(cut);
    }
    const changed = lineHistoryText(i);
    row.title = 'Line ' + fmtInt(i + 1) + '\nHeat ' + fmt2(c.cv[i]) + (hot.lineBy === 'heat' ? '  (' + pct(h) + ' of ' + scaleWord() + ')' : '') + (changed ? '\n' + changed : '');
    row.dataset.line = i + 1;
    row.classList.toggle('mark', marked);
  }
  positionOverviewWindow();
}

function renderCodeInfo() {
  const c = S.code;
  const pathEl = $('codePath');
  pathEl.textContent = '';
  const shown = c ? c.path : S.selected;
  if (shown) {
    const rel = relPath(shown), k = lastSep(rel);
    const bdi = document.createElement('bdi');
    const dir = document.createElement('span'); dir.textContent = rel.slice(0, k + 1);
    const b = document.createElement('b'); b.textContent = rel.slice(k + 1);
    bdi.append(dir, b);
    pathEl.appendChild(bdi);
    pathEl.title = shown;
  } else {
    pathEl.title = '';
  }
  const loading = S.selected && (!c || c.path !== S.selected);
  $('codeStats').textContent = loading ? 'loading\u2026'
    : c ? fmtInt(c.lines.length) + (c.lines.length === 1 ? ' line' : ' lines') + '  \u00b7  heat ' + fmt2(c.fileCV) : '';
  const hasHot = !!(c && c.hot.length);
  $('btnPrevHot').disabled = !hasHot;
  $('btnNextHot').disabled = !hasHot;
  $('codeInfo').style.visibility = S.view === 'code' ? '' : 'hidden';
}

function scrollToLine(i, center) {
  const h = code.height || code.el.clientHeight, y = i * code.lineH, top = codeTop();
  if (center) setCodeTop(y - (h - code.lineH) / 2);
  else if (y < top) setCodeTop(y);
  else if (y + code.lineH > top + h) setCodeTop(y + code.lineH - h);
}

function flashMark() {
  requestAnimationFrame(() => {
    for (const row of code.pool) {
      if (row._v.idx === S.mark) { row.classList.remove('flash'); void row.offsetWidth; row.classList.add('flash'); }
    }
  });
}

function jumpHot(dir) {
  const c = S.code;
  if (!c || !c.hot.length) return;
  const cur = S.mark >= 0 ? S.mark : Math.floor((codeTop() + (code.height || 0) / 2) / code.lineH);
  let target = -1;
  if (dir > 0) target = c.hot.find((i) => i > cur);
  else for (let k = c.hot.length - 1; k >= 0; k--) if (c.hot[k] < cur) { target = c.hot[k]; break; }
  const wrapped = target === undefined || target < 0;
  if (wrapped) target = dir > 0 ? c.hot[0] : c.hot[c.hot.length - 1];
  S.mark = target;
  scrollToLine(target, true);
  renderCode(false);
  flashMark();
  let end = target;
  while (end + 1 < c.cv.length && c.cv[end + 1] >= c.hotCut) end++;
  setStatus((wrapped ? (dir > 0 ? 'Wrapped to the first hot spot: ' : 'Wrapped to the last hot spot: ') : 'Hot spot at ') +
    'line ' + fmtInt(target + 1) + (end > target ? '\u2013' + fmtInt(end + 1) : '') + ' \u00b7 heat ' + fmt2(c.cv[target]));
}

// ---------------------------------------------------------------- overview strip
function drawOverview() {
  const box = $('overview'), canvas = $('ovCanvas');
  const dpr = Math.min(2, window.devicePixelRatio || 1);
  const w = Math.max(1, Math.round(box.clientWidth * dpr)), h = Math.max(1, Math.round(box.clientHeight * dpr));
  if (canvas.width !== w || canvas.height !== h) { canvas.width = w; canvas.height = h; }
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, w, h);
  const c = S.code;
  if (!c) { positionOverviewWindow(); return; }
  const n = c.lines.length, rows = new Float32Array(h);
  // Each pixel row shows the hottest line that falls into it.
  const scale = Math.min(h / n, 4 * dpr);
  for (let i = 0; i < n; i++) {
    const y = Math.min(h - 1, Math.floor(i * scale));
    if (c.heat[i] > rows[y]) rows[y] = c.heat[i];
  }
  const step = Math.max(1, Math.ceil(scale));
  for (let y = 0; y < h; y++) {
    const v = rows[y];
    if (v <= 0.02) continue;
    ctx.fillStyle = heatFill(v);
    const inset = Math.round((1 - Math.max(0.35, v)) * w * 0.5);
    ctx.fillRect(inset, y, w - 2 * inset, step);
  }
  code.ovScale = scale / dpr;
  positionOverviewWindow();
}

function positionOverviewWindow() {
  const win = $('ovWin'), c = S.code;
  if (!c || !code.ovScale) { win.style.display = 'none'; return; }
  const s = code.ovScale;
  const first = codeTop() / code.lineH, vis = (code.height || code.el.clientHeight) / code.lineH;
  win.style.display = '';
  win.style.transform = 'translateY(' + first * s + 'px)';
  win.style.height = Math.max(6, vis * s) + 'px';
}

function overviewJump(ev) {
  const c = S.code;
  if (!c || !code.ovScale) return;
  const r = $('overview').getBoundingClientRect();
  const line = Math.max(0, Math.min(c.lines.length - 1, Math.floor((ev.clientY - r.top) / code.ovScale)));
  scrollToLine(line, true);
}
