// ---------------------------------------------------------------- overview map
// A squarified treemap of the project: area is lines, colour is the file's heat on the
// active scale. Drawn on one canvas, so the whole kernel tree stays a single paint.
const map = { tree: null, zoom: [], rects: null, folders: [], tip: null, as: 'map', sortKey: 'heat', sortDir: -1, ms: 0, raf: 0, row: 0 };

function mapTree() {
  const p = S.project;
  if (!p) return null;
  // Files outside the chosen scope are left out, as in the list.
  const leftOut = scopeLeavesOut();
  const scopeKey = leftOut ? S.scope : 'all';
  if (map.tree && map.tree.project === p && map.tree.linesGen === p.linesGen && map.tree.scopeKey === scopeKey) return map.tree;
  const node = (name, rel, parent) => ({ name, rel, parent, kids: [], byName: new Map(), files: [], lines: 0, area: 0, heatLines: 0, heatCV: 0, count: 0 });
  const root = node(displayName(), '', null);
  const files = p.files;
  // Files come in path order, so most share the folder of the one before.
  let lastDir = null, n = root;
  for (let fi = 0; fi < files.length; fi++) {
    if (leftOut && leftOut(fi)) continue;
    const f = files[fi], rel = relOf(f), cut = lastSep(rel) + 1, dir = rel.slice(0, cut);
    if (dir !== lastDir) {
      lastDir = dir;
      n = root;
      for (let i = 0, start = 0; i < cut; i++) {
        const ch = rel.charCodeAt(i);
        if (ch !== 47 && ch !== 92) continue;
        if (i > start) {
          const name = rel.slice(start, i);
          let kid = n.byName.get(name);
          if (!kid) { kid = node(name, rel.slice(0, i + 1), n); n.byName.set(name, kid); n.kids.push(kid); }
          n = kid;
        }
        start = i + 1;
      }
    }
    // Lines add up to the header's total; an empty file still gets a sliver of area.
    const lines = Math.max(0, f.lines || 0), area = Math.max(1, lines);
    n.files.push(fi);
    n.lines += lines; n.area += area; n.heatLines += fileHeat(f) * area; n.heatCV += f.heatCV; n.count++;
  }
  const sum = (nd) => {
    for (const k of nd.kids) { sum(k); nd.lines += k.lines; nd.area += k.area; nd.heatLines += k.heatLines; nd.heatCV += k.heatCV; nd.count += k.count; }
  };
  sum(root);
  map.tree = { project: p, linesGen: p.linesGen, scopeKey, root, gen: (map.tree ? map.tree.gen : 0) + 1 };
  return map.tree;
}

function mapNode() {
  const t = mapTree();
  if (!t) return null;
  let n = t.root;
  for (const name of map.zoom) {
    const kid = n.byName.get(name);
    if (!kid) { map.zoom = []; return t.root; }  // gone after a rescan
    n = kid;
  }
  return n;
}

// Squarified rows (Bruls, Huizing, van Wijk): each row is filled while its worst aspect ratio improves.
// A value that is not positive gets no rectangle (a row of nothing would divide by zero).
function squarify(values, x, y, w, h, emit) {
  let total = 0;
  for (const v of values) if (v > 0) total += v;
  if (!(total > 0) || w <= 0 || h <= 0) return;
  const scale = (w * h) / total;
  for (let i = 0; i < values.length;) {
    if (!(values[i] > 0)) { i++; continue; }
    const side = Math.min(w, h);
    let j = i, sum = 0, lo = Infinity, hi = 0, best = Infinity;
    while (j < values.length && values[j] > 0) {
      const v = values[j] * scale, s = sum + v, l = Math.min(lo, v), m = Math.max(hi, v);
      const worst = Math.max((side * side * m) / (s * s), (s * s) / (side * side * l));
      if (j > i && worst > best) break;
      best = worst; sum = s; lo = l; hi = m; j++;
    }
    if (w >= h) {
      const cw = sum / h;
      for (let k = i, yy = y; k < j; k++) { const hh = (values[k] * scale) / cw; emit(k, x, yy, cw, hh); yy += hh; }
      x += cw; w -= cw;
    } else {
      const rh = sum / w;
      for (let k = i, xx = x; k < j; k++) { const ww = (values[k] * scale) / rh; emit(k, xx, y, ww, rh); xx += ww; }
      y += rh; h -= rh;
    }
    i = j;
  }
}

const MAP_HEAD = 16;  // folder name strip
// Rectangles go straight into a pixel buffer: tens of thousands of canvas calls
// would cost more than the whole layout.
function drawMap() {
  map.raf = 0;
  if (S.view !== 'map') return;
  const t0 = performance.now();
  const box = $('mapBox'), canvas = $('mapCanvas'), node = mapNode();
  renderMapCrumbs(node);
  if (map.as === 'table') { renderMapTable(node); map.ms = performance.now() - t0; return; }
  const dpr = Math.min(2, window.devicePixelRatio || 1), W = box.clientWidth, H = box.clientHeight;
  const PW = Math.max(1, Math.round(W * dpr)), PH = Math.max(1, Math.round(H * dpr));
  const key = [map.tree && map.tree.gen, map.zoom.join('/'), PW, PH, heatUI.fill[LUT - 1], hot.mapBy, hot.gen].join('|');
  if (key === map.drawn) return;
  map.drawn = key;
  if (canvas.width !== PW || canvas.height !== PH) { canvas.width = PW; canvas.height = PH; }
  const ctx = canvas.getContext('2d');
  const u32 = (c) => (255 << 24 | c[2] << 16 | c[1] << 8 | c[0]) >>> 0;
  const rgbOf = (css) => css.match(/\d+(\.\d+)?/g).map(Number);
  const heatPx = heatUI.fill.map((c) => u32(rgbOf(c)));
  const bg = u32(parseColor(cssVar('--code-bg'), [255, 255, 255]));
  const framePx = u32(parseColor(cssVar('--border'), [221, 225, 230])), headPx = u32(parseColor(cssVar('--panel-2'), [247, 248, 250]));
  const img = ctx.createImageData(PW, PH), buf = new Uint32Array(img.data.buffer);
  buf.fill(bg);
  const fill = (x, y, w, h, px) => {
    const x0 = Math.max(0, Math.round(x * dpr)), y0 = Math.max(0, Math.round(y * dpr));
    const x1 = Math.min(PW, Math.max(x0 + 1, Math.round((x + w) * dpr))), y1 = Math.min(PH, Math.max(y0 + 1, Math.round((y + h) * dpr)));
    for (let r = y0; r < y1; r++) buf.fill(px, r * PW + x0, r * PW + x1);
  };
  const n = node ? node.count : 0, files = S.project ? S.project.files : [];
  const fx = new Float32Array(n), fy = new Float32Array(n), fw = new Float32Array(n), fh = new Float32Array(n), fi = new Int32Array(n);
  let nf = 0;
  const folders = [], labels = [];
  const lay = (nd, x, y, w, h) => {
    const items = [];
    for (const k of nd.kids) items.push([k.area, k]);
    for (const i of nd.files) items.push([Math.max(1, files[i].lines || 0), i]);
    items.sort((a, b) => b[0] - a[0]);
    squarify(items.map((it) => it[0]), x, y, w, h, (k, rx, ry, rw, rh) => {
      const it = items[k][1];
      if (typeof it === 'number') {
        const f = files[it], heat = mapColour(f), gap = rw > 3 && rh > 3 ? 1 : 0;
        fill(rx, ry, rw - gap, rh - gap, heatPx[lutIndex(heat)]);
        fx[nf] = rx; fy[nf] = ry; fw[nf] = rw; fh[nf] = rh; fi[nf++] = it;
        if (rw > 44 && rh > 15) labels.push([f.name, rx, ry + 8, rw, heat < 0.75 || heatUI.dark]);
      } else {
        folder(it, rx, ry, rw, rh);
      }
    });
  };
  const folder = (nd, x, y, w, h) => {
    folders.push([nd, x, y, w, h]);
    if (w < 8 || h < 8) {  // too small to open: its line-weighted heat
      fill(x, y, Math.max(1, w - 1), Math.max(1, h - 1), heatPx[lutIndex(nd.area ? nd.heatLines / nd.area : 0)]);
      return;
    }
    fill(x, y, w - 1, h - 1, framePx);
    const head = h > 40 && w > 40 ? MAP_HEAD : 1;
    if (head > 1) { fill(x + 1, y + 1, w - 3, head - 1, headPx); labels.push([nd.name + '/', x + 1, y + head / 2 + 0.5, w - 3, null]); }
    lay(nd, x + 1, y + head, w - 3, h - head - 2);
  };
  if (n) lay(node, 0, 0, W, H);
  ctx.putImageData(img, 0, 0);
  ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
  ctx.font = '11px ' + cssVar('--font-ui');
  ctx.textBaseline = 'middle';
  const text = cssVar('--text'), muted = cssVar('--muted');
  for (const [t, x, y, w, dark] of labels) {
    if (w < 24) continue;
    ctx.fillStyle = dark === null ? muted : dark ? text : '#fff';
    ctx.fillText(t.length * 6.2 > w - 6 ? fitText(ctx, t, w - 6) : t, x + 3, y);
  }
  map.rects = { fx, fy, fw, fh, fi, n: nf };
  map.folders = folders;
  map.ms = performance.now() - t0;
}

function mapHit(x, y) {
  const r = map.rects;
  if (r) for (let k = 0; k < r.n; k++) if (x >= r.fx[k] && y >= r.fy[k] && x < r.fx[k] + r.fw[k] && y < r.fy[k] + r.fh[k]) return { file: S.project.files[r.fi[k]] };
  for (let k = map.folders.length - 1; k >= 0; k--) {
    const [nd, fx, fy, fw, fh] = map.folders[k];
    if (x >= fx && y >= fy && x < fx + fw && y < fy + fh) return { folder: nd };
  }
  return null;
}

function mapPoint(e) { const r = $('mapCanvas').getBoundingClientRect(); return mapHit(e.clientX - r.left, e.clientY - r.top); }

function onMapMove(e) {
  const hit = mapPoint(e), tip = $('mapTip');
  if (!hit) { tip.style.display = 'none'; return; }
  const text = hit.file
    ? relOf(hit.file) + '\n' + fmtInt(hit.file.lines || 0) + ' lines  \u00b7  heat ' + fmt2(hit.file.heatCV)
    : hit.folder.rel + '\n' + fmtInt(hit.folder.count) + ' files  \u00b7  ' + fmtInt(hit.folder.lines) + ' lines  \u00b7  heat ' + fmt2(hit.folder.heatCV) + '\nClick to zoom in';
  tip.textContent = text;
  tip.style.display = 'block';
  const box = $('mapBox').getBoundingClientRect();
  const x = Math.min(e.clientX - box.left + 14, box.width - tip.offsetWidth - 4), y = e.clientY - box.top + 16;
  tip.style.transform = 'translate(' + Math.max(0, x) + 'px,' + (y + tip.offsetHeight > box.height ? y - tip.offsetHeight - 24 : y) + 'px)';
  $('status').textContent = text.split('\n').slice(0, 2).join('  \u00b7  ');
}

function zoomMapTo(nd) {
  const names = [];
  for (let a = nd; a && a.parent; a = a.parent) names.unshift(a.name);
  map.zoom = names;
  map.row = 0;
  $('mapTip').style.display = 'none';
  drawMap();
  setStatus(statusNow());
}

function onMapClick(e) {
  const hit = mapPoint(e);
  if (hit && hit.file) openPath(hit.file.path, 0);
  else if (hit && hit.folder) zoomMapTo(hit.folder);
}

function renderMapCrumbs(node) {
  const crumbs = $('mapCrumbs');
  crumbs.textContent = '';
  const chain = [];
  for (let a = node; a; a = a.parent) chain.unshift(a);
  chain.forEach((nd, k) => {
    if (k) crumbs.append(' \u203a ');
    const b = document.createElement('button');
    b.className = 'crumb';
    b.textContent = nd.name;
    if (k === chain.length - 1) b.setAttribute('aria-current', 'location');
    b.addEventListener('click', () => zoomMapTo(nd));
    crumbs.append(b);
  });
}

const MAP_COLUMNS = [['name', 'Folder or file'], ['count', 'Files'], ['lines', 'Lines'], ['heat', 'Heat'], ['density', 'Heat per line']];
// Folders and the files right in this one; density as for files, over at least DENSITY_MIN_LINES.
function renderMapTable(node) {
  const body = $('mapTable');
  body.textContent = '';
  if (!node) return;
  const rows = node.kids.map((k) => ({ nd: k, name: k.name + '/', count: k.count, lines: k.lines, heat: k.heatCV }));
  for (const i of node.files) {
    const f = S.project.files[i];
    rows.push({ file: f, name: f.name, count: 1, lines: f.lines || 0, heat: f.heatCV });
  }
  for (const r of rows) r.density = r.heat > 0 ? r.heat / Math.max(r.lines, DENSITY_MIN_LINES) : 0;
  const key = map.sortKey, dir = map.sortDir;
  rows.sort((a, b) => (key === 'name' ? a.name.localeCompare(b.name) : a[key] - b[key]) * dir);
  const table = document.createElement('table');
  table.className = 'audit map-table';
  const head = table.createTHead().insertRow();
  for (const [k, title] of MAP_COLUMNS) {
    const th = document.createElement('th');
    if (k !== 'name') th.className = 'num';
    th.setAttribute('aria-sort', k === key ? (dir > 0 ? 'ascending' : 'descending') : 'none');
    const b = document.createElement('button');
    b.className = 'sort';
    b.textContent = title + (k === key ? (dir > 0 ? ' \u25b4' : ' \u25be') : '');
    b.addEventListener('click', () => { map.sortDir = map.sortKey === k ? -map.sortDir : (k === 'name' ? 1 : -1); map.sortKey = k; drawMap(); });
    th.append(b);
    head.append(th);
  }
  const tb = table.createTBody();
  rows.forEach((r, k) => {
    const tr = tb.insertRow();
    tr.className = 'item';
    tr.tabIndex = k === Math.min(map.row, rows.length - 1) ? 0 : -1;
    tr._nd = r.nd;
    tr._file = r.file;
    if (r.file) tr.title = relOf(r.file) + '\nClick to open';
    const cell = (text, cls) => { const td = tr.insertCell(); td.textContent = text; if (cls) td.className = cls; };
    cell(r.name, r.file ? 'leaf' : 'file');
    cell(fmtInt(r.count), 'num'); cell(fmtInt(r.lines), 'num'); cell(fmt2(r.heat), 'num'); cell(fmt2(r.density), 'num');
  });
  body.append(table);
}

function mapTableKeys(e) {
  const rows = [...$('mapTable').querySelectorAll('tr.item')], cur = rows.indexOf(document.activeElement);
  if (cur < 0) return false;
  const to = { ArrowDown: cur + 1, ArrowUp: cur - 1, Home: 0, End: rows.length - 1 }[e.key];
  if (e.key === 'Enter') {
    if (rows[cur]._nd) { zoomMapTo(rows[cur]._nd); focusMapRow(0); } else if (rows[cur]._file) openPath(rows[cur]._file.path, 0);
  }
  else if (to !== undefined) focusMapRow(to);
  else return false;
  e.preventDefault();
  return true;
}
function focusMapRow(k) {
  const rows = $('mapTable').querySelectorAll('tr.item');
  if (!rows.length) return;
  map.row = Math.max(0, Math.min(rows.length - 1, k));
  rows.forEach((r, j) => { r.tabIndex = j === map.row ? 0 : -1; });
  rows[map.row].focus();
}

function setMapAs(as) {
  map.as = as;
  $('mapAsMap').setAttribute('aria-pressed', as === 'map' ? 'true' : 'false');
  $('mapAsTable').setAttribute('aria-pressed', as === 'table' ? 'true' : 'false');
  $('mapBox').style.display = as === 'map' ? '' : 'none';
  $('mapTable').style.display = as === 'table' ? '' : 'none';
  drawMap();
}

// Rescans and new line counts arrive in bursts; one paint per frame is enough.
function scheduleMap() {
  if (S.view === 'map' && !map.raf) map.raf = requestAnimationFrame(drawMap);
}

function onSetFileLines(d) {
  const p = S.project, lines = Array.isArray(d.lines) ? d.lines : null;
  if (!p || !lines || lines.length !== p.rawCount) return;  // not for the files on screen
  for (const f of p.files) f.lines = Math.max(0, Math.floor(num(lines[f.rawIndex])));
  p.linesGen = (p.linesGen || 0) + 1;
  p.densityTop = 0;
  S.orders.density = null;
  if (S.rank === 'density' && S.sort === 'heat') refreshList(); else renderList(true);
  scheduleMap();
  if (S.view === 'hotspots') drawHotspots();  // its points are sized by lines
}

function initMap() {
  const canvas = $('mapCanvas');
  canvas.addEventListener('mousemove', onMapMove);
  canvas.addEventListener('mouseleave', () => { $('mapTip').style.display = 'none'; });
  canvas.addEventListener('click', onMapClick);
  $('mapAsMap').addEventListener('click', () => setMapAs('map'));
  $('mapAsTable').addEventListener('click', () => setMapAs('table'));
  $('tabMap').addEventListener('click', () => showView('map'));
  $('mapTable').addEventListener('click', (e) => {
    const tr = e.target.closest('tr.item');
    if (tr && tr._nd) zoomMapTo(tr._nd); else if (tr && tr._file) openPath(tr._file.path, 0);
  });
  $('mapPane').addEventListener('keydown', (e) => {
    if (mapTableKeys(e)) return;
    if ((e.key === 'Backspace' || e.key === 'Escape') && map.zoom.length && !isTyping(e.target)) {
      e.preventDefault(); e.stopPropagation();
      map.zoom.pop(); zoomMapTo(mapNode());
    }
  });
}
