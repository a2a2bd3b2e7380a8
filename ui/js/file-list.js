// ---------------------------------------------------------------- virtual file list
const list = { el: null, spacer: null, rowH: 26, pool: [], height: 0, empty: null };

function listRow() {
  const row = document.createElement('div');
  row.className = 'row';
  row.setAttribute('role', 'option');
  const bar = document.createElement('span'); bar.className = 'bar';
  const fill = document.createElement('i'); bar.appendChild(fill);
  const path = document.createElement('span'); path.className = 'rpath';
  const d = document.createElement('span'); d.className = 'd';
  const n = document.createElement('span'); n.className = 'n';
  path.append(d, n);
  const cv = document.createElement('span'); cv.className = 'cv';
  row.append(bar, path, cv);
  row._v = { fill, d, n, cv, idx: -2, key: '' };
  row.style.display = 'none';
  list.el.appendChild(row);
  return row;
}

function renderList(contentChanged) {
  const el = list.el, vis = S.visible, n = vis.length, rowH = list.rowH;
  list.spacer.style.height = n * rowH + 'px';
  if (!list.height) list.height = el.clientHeight;
  const top = el.scrollTop;
  const first = Math.max(0, Math.floor(top / rowH) - 4);
  const last = Math.min(n, Math.ceil((top + list.height) / rowH) + 4);
  const files = S.project ? S.project.files : [];
  const count = Math.max(0, last - first);
  while (list.pool.length < count) list.pool.push(listRow());
  for (let k = 0; k < list.pool.length; k++) {
    const row = list.pool[k], v = row._v;
    if (k >= count) { if (v.idx !== -2) { row.style.display = 'none'; v.idx = -2; } continue; }
    const i = first + k, f = files[vis[i]];
    const stateKey = (f.path === S.selected ? 's' : '') + (i === S.cursor ? 'c' : '');
    if (contentChanged || v.idx !== i || v.f !== f || v.key !== stateKey) {
      if (v.idx === -2) row.style.display = '';
      v.idx = i; v.f = f; v.key = stateKey;
      row.style.transform = 'translateY(' + i * rowH + 'px)';
      // A pending file has no heat yet: no bar, a dash for its figure.
      const fh = f.pending ? 0 : listHeat(f), figure = f.pending ? '\u2013' : listFigure(f);
      v.fill.style.width = Math.max(fh > 0 ? 6 : 0, fh * 100) + '%';
      v.fill.style.background = heatFill(fh);
      const rel = relOf(f), cut = lastSep(rel) + 1;
      // Measuring the folds is the slow part of drawing rows, and a pending
      // list is drawn again with every batch while the analysis needs the
      // processor: its folders are clipped by the style instead.
      fillFilterMarks(v.d, v.n, rel, cut, S.project.pendingAt ? null : foldersToShow(rel, cut, figure));
      v.cv.textContent = figure;
      row.title = f.pending ? f.path + '\nNot analysed yet'
        : f.path + '\nHeat ' + fmt2(f.heatCV) + ' (' + pct(fileHeat(f)) + ' of the project scale)' +
        '\n' + fmt2(densityOf(f)) + ' per line' + (f.lines ? ' over ' + fmtInt(f.lines) + (f.lines === 1 ? ' line' : ' lines') : '');
      row.classList.toggle('pending', !!f.pending);
      row.dataset.path = f.path;
      row.setAttribute('aria-posinset', i + 1);
      row.setAttribute('aria-setsize', n);
      row.classList.toggle('sel', f.path === S.selected);
      row.classList.toggle('cur', i === S.cursor);
      row.setAttribute('aria-selected', f.path === S.selected ? 'true' : 'false');
    }
  }
  if (!list.empty) {
    list.empty = document.createElement('div');
    list.empty.className = 'empty-note';
    el.appendChild(list.empty);
  }
  const emptyText = !S.project ? '' : !S.project.files.length ? 'No source files in this folder.'
    : !n && S.filter ? 'No file matches \u201c' + S.filter + '\u201d.' : !n ? 'No file in this scope.' : '';
  list.empty.textContent = emptyText;
  list.empty.style.display = emptyText ? '' : 'none';
}

function moveCursor(to, reveal = true) {
  const n = S.visible.length;
  if (!n) return;
  S.cursor = Math.max(0, Math.min(n - 1, to));
  S.cursorPath = S.project.files[S.visible[S.cursor]].path;
  if (reveal) {
    const el = list.el, y = S.cursor * list.rowH, h = list.height || el.clientHeight;
    if (y < el.scrollTop) el.scrollTop = y;
    else if (y + list.rowH > el.scrollTop + h) el.scrollTop = y + list.rowH - h;
  }
  renderList(false);
}

function openPath(path, line) {
  if (typeof path !== 'string' || path === '') return;
  S.selected = path;
  S.pendingJump = line > 0 ? { path, line } : null;
  send({ type: 'selectFile', path_b64: textToBase64(path) });
  showView('code');
  S.opening = !S.code || S.code.path !== path ? path : '';
  if (S.opening) setStatus('Opening ' + relPath(path) + '\u2026');
  renderList(false);
  renderCodeInfo();
}

function openCursor() {
  if (S.cursor < 0 || S.cursor >= S.visible.length) return;
  openPath(S.project.files[S.visible[S.cursor]].path, 0);
}

function relPath(path) {
  const p = S.project;
  if (p && p.rootLen && path.length > p.rootLen) {
    const root = p.root;
    let same = true;
    for (let i = 0; i < p.rootLen; i++) {
      const a = root.charCodeAt(i), b = path.charCodeAt(i);
      if (a !== b && !(isSep(a) && isSep(b))) { same = false; break; }
    }
    if (same) return path.slice(p.rootLen);
  }
  return path;
}
