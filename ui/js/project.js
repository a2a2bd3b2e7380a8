// ---------------------------------------------------------------- project
function sameFiles(files, raw) {
  if (files.length !== raw.length) return false;
  for (let i = 0; i < raw.length; i++) {
    const r = raw[i], f = files[i];
    if (!r || r.path !== f.path || clamp01(num(r.heat01)) !== f.heat01 || num(r.heatCV) !== f.heatCV) return false;
    if (typeof r.name === 'string' && r.name && r.name !== f.name) return false;
  }
  return true;
}

function onSetProject(d) {
  const name = str(d.projectName) || 'Varnholt';
  const totalLOC = Math.max(0, Math.round(num(d.totalLOC)));
  const raw = Array.isArray(d.files) ? d.files : [];
  const old = S.project;
  if (old && !old.pendingAt && sameFiles(old.files, raw)) {
    old.name = name; old.totalLOC = totalLOC;
    setProjectScale(old);
    renderHeader();
    return;
  }
  const files = [];
  for (let i = 0; i < raw.length; i++) {
    const r = raw[i];
    if (!r || typeof r !== 'object' || typeof r.path !== 'string' || r.path === '') continue;
    files.push({
      rawIndex: i,
      path: r.path,
      name: (typeof r.name === 'string' && r.name) ? r.name : lastComponent(r.path),
      heat01: clamp01(num(r.heat01)),
      heatCV: num(r.heatCV),
    });
  }
  showFiles({ name, totalLOC, files, rawCount: raw.length }, old);
}

// Puts a new list of files on screen: a project, or a first run's pending
// list with its own scope classes.
function showFiles(fields, old, scopeInfo = null) {
  const files = fields.files;
  const rootLen = commonRootLength(files.map((f) => f.path));
  const root = files.length ? files[0].path.slice(0, rootLen) : '';
  // Display and filter strings are made on demand: with tens of thousands of
  // files, building them all up front costs more than the whole first paint.
  S.project = Object.assign({ rootLen, root, keys: null, linesGen: 0, cls: null, densityTop: 0 }, fields);
  S.orders = { total: null, density: null, path: null };
  setProjectScale(S.project);
  const otherFolder = !old || old.root !== root;
  if (otherFolder) {
    // Another folder: the old audit and list position mean nothing here.
    S.audit = null; S.auditStale = false; S.cursorPath = '';
    S.scopeInfo = null;  // its setScopeInfo follows
    list.el.scrollTop = 0;
    renderAudit();
  } else if (S.audit && !S.auditLoading) {
    S.auditStale = true;
  }
  if (scopeInfo) { S.scopeInfo = scopeInfo; $('scope').disabled = false; }
  renderHeader();
  showRoot(root);
  refreshList();
  if (S.code) renderCodeInfo();
  renderAuditStale();
  setStatus(statusNow());
  scheduleMap();
  // Have the filter keys ready before the first keystroke.
  const project = S.project;
  const idle = window.requestIdleCallback || ((fn) => setTimeout(fn, 200));
  idle(() => { if (S.project === project) fileKeys(); });
}

// ---------------------------------------------------------------- pending list
// A first run shows its files as soon as the walk has them: names only,
// "pending" until a batch of finished files fills them in; the run's
// setProject then replaces the whole list.
function onSetPendingProject(d) {
  const paths = Array.isArray(d.paths) ? d.paths : [], root = str(d.root);
  const files = [], at = new Array(paths.length);
  for (let i = 0; i < paths.length; i++) {
    if (typeof paths[i] !== 'string' || paths[i] === '') continue;
    const path = root + paths[i];
    at[i] = files.length;
    files.push({ rawIndex: i, path, name: lastComponent(path), heat01: 0, heatCV: 0, lines: 0, pending: true });
  }
  // The classes by index as well: looking 78,000 paths up takes a while.
  const cls = new Map(), byIndex = new Uint8Array(files.length);
  for (const i of Array.isArray(d.notCode) ? d.notCode : []) if (files[at[i]]) { cls.set(files[at[i]].path, 1); byIndex[at[i]] = 1; }
  showFiles({ name: str(d.projectName) || 'Varnholt', totalLOC: 0, files, rawCount: paths.length, pendingAt: at, pendingLeft: files.length, cls: byIndex,
    filled: { total: new Int32Array(0), density: new Int32Array(0) }, fresh: { total: [], density: [] } },
    S.project, { folderName: str(d.folderName), cls });
}

function onFillPendingProject(d) {
  const p = S.project;
  if (!p || !p.pendingAt || !Array.isArray(d.files)) return;
  const cls = S.scopeInfo ? S.scopeInfo.cls : null;
  for (const r of d.files) {
    const k = Array.isArray(r) ? p.pendingAt[Math.floor(num(r[0]))] : undefined, f = p.files[k];
    if (!f || !f.pending) continue;
    f.pending = false;
    p.pendingLeft--;
    p.fresh.total.push(k); p.fresh.density.push(k);
    f.heatCV = num(r[1]);
    f.lines = Math.max(0, Math.floor(num(r[2])));
    p.totalLOC += f.lines;
    const c = Math.floor(num(r[3])), known = c === 1 || c === 2 ? c : 0;
    // The map follows the classes by index; most files stay "code" and are
    // not looked up at all: each lookup hashes a whole path.
    if (cls && (!p.cls || known !== p.cls[k])) { if (known) cls.set(f.path, known); else cls.delete(f.path); }
    if (p.cls) p.cls[k] = known;
  }
  // Until the project comes, the scale is that of the files done so far;
  // the files filled before follow it only when it moved noticeably.
  const scaleLog = num(d.heatScaleLog), moved = scaleLog > 0 && Math.abs(scaleLog - (p.scaleLog || 0)) > 1e-3 * scaleLog;
  if (moved) p.scaleLog = scaleLog;
  const put = (f) => { f.heat01 = p.scaleLog > 0 ? clamp01(Math.round((Math.log1p(f.heatCV) / p.scaleLog) * 1e4) / 1e4) : 0; };
  // The filled files are those merged into the order so far and the fresh ones.
  if (moved) for (const k of p.filled.total) put(p.files[k]);
  for (const k of p.fresh.total) put(p.files[k]);
  p.densityTop = 0;
  p.linesGen++;
  S.orders.total = null; S.orders.density = null;
  setProjectScale(p);
  renderHeader();
  refreshList();
  if (S.code) renderCodeInfo();
  scheduleMap();
}

// The run ended without a project: no pending row stays.
function onDropPendingProject() {
  if (!S.project || !S.project.pendingAt) return;
  S.project = null; S.scopeInfo = null;
  S.orders = { total: null, density: null, path: null };
  renderHeader();
  refreshList();
  setStatus(statusNow());
  scheduleMap();
}

function showRoot(root) {
  const rp = $('rootPath');
  rp.innerHTML = '';
  const bdi = document.createElement('bdi');
  bdi.textContent = root;
  rp.appendChild(bdi);
  rp.title = root ? 'Project root: ' + root : '';
}

// The host's order: UTF-8 bytes, which is code point order; UTF-16 units
// from U+E000 up sort after the surrogates there.
function pathBefore(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) {
    let x = a.charCodeAt(i), y = b.charCodeAt(i);
    if (x === y) continue;
    x += x >= 0xE000 ? -0x800 : x >= 0xD800 ? 0x2000 : 0;
    y += y >= 0xE000 ? -0x800 : y >= 0xD800 ? 0x2000 : 0;
    return x < y;
  }
  return a.length < b.length;
}

// A few files changed, came or went: the list is patched, not rebuilt, and
// keeps its place.
function onUpdateProject(d) {
  const p = S.project;
  if (!p) return;
  const sent = new Map(), gone = new Set();
  for (const r of Array.isArray(d.files) ? d.files : []) {
    if (r && typeof r === 'object' && typeof r.path === 'string' && r.path !== '') sent.set(r.path, r);
  }
  for (const path of Array.isArray(d.removed) ? d.removed : []) if (typeof path === 'string') gone.add(path);
  const cls = S.scopeInfo ? S.scopeInfo.cls : null;
  const fromHost = new Set();
  const fill = (f, r) => {
    fromHost.add(f);
    f.name = (typeof r.name === 'string' && r.name) ? r.name : lastComponent(r.path);
    f.heat01 = clamp01(num(r.heat01));
    f.heatCV = num(r.heatCV);
    f.lines = Math.max(0, Math.floor(num(r.lines)));
    const c = Math.floor(num(r.scope));
    if (cls && (c === 1 || c === 2)) cls.set(r.path, c); else if (cls) cls.delete(r.path);
    return f;
  };
  const kept = [];
  for (const f of p.files) {
    if (gone.has(f.path)) { if (cls) cls.delete(f.path); continue; }
    const r = sent.get(f.path);
    if (r) { fill(f, r); sent.delete(f.path); }
    kept.push(f);
  }
  const added = [];
  for (const r of sent.values()) added.push(fill({ rawIndex: 0, path: r.path }, r));
  added.sort((a, b) => (pathBefore(a.path, b.path) ? -1 : pathBefore(b.path, a.path) ? 1 : 0));
  const files = [];
  for (let i = 0, j = 0; i < kept.length || j < added.length;) {
    files.push(j >= added.length || (i < kept.length && pathBefore(kept[i].path, added[j].path)) ? kept[i++] : added[j++]);
  }
  // The host's file scale moved: every other file's heat01 follows it.
  const scaleLog = num(d.heatScaleLog);
  for (let i = 0; i < files.length; i++) {
    const f = files[i];
    f.rawIndex = i;
    if (scaleLog > 0 && !fromHost.has(f)) f.heat01 = clamp01(Math.round((Math.log1p(f.heatCV) / scaleLog) * 1e4) / 1e4);
  }
  p.files = files;
  p.rawCount = files.length;
  p.name = str(d.projectName) || p.name;
  p.totalLOC = Math.max(0, Math.round(num(d.totalLOC)));
  if (S.scopeInfo && str(d.folderName)) S.scopeInfo.folderName = str(d.folderName);
  p.keys = null; p.cls = null; p.densityTop = 0;
  p.linesGen = (p.linesGen || 0) + 1;
  S.orders = { total: null, density: null, path: null };
  const rootLen = commonRootLength(files.map((f) => f.path));
  const root = files.length ? files[0].path.slice(0, rootLen) : '';
  if (root !== p.root) { p.root = root; p.rootLen = rootLen; showRoot(root); }
  if (S.audit && !S.auditLoading) S.auditStale = true;
  setProjectScale(p);
  renderHeader();
  refreshList();
  if (S.code) renderCodeInfo();
  renderAuditStale();
  setStatus(statusNow());
  scheduleMap();
}

// Each file's class for the scopes, by index (0 code, 1 not code, 2 test or
// generated); null until the host has told them.
function scopeClasses() {
  const p = S.project, info = S.scopeInfo;
  if (!p || !info) return null;
  if (!p.cls) {
    p.cls = new Uint8Array(p.files.length);
    for (let i = 0; i < p.files.length; i++) p.cls[i] = info.cls.get(p.files[i].path) || 0;
  }
  return p.cls;
}
// Whether the active scope leaves file i out: prose and data (class 1) are
// outside both narrow scopes, tests and generated files (2) outside
// "nontest". Null when the scope keeps every file.
function scopeLeavesOut() {
  const cls = S.scope === 'all' ? null : scopeClasses();
  if (!cls) return null;
  const hideTests = S.scope === 'nontest';
  return (i) => cls[i] === 1 || (hideTests && cls[i] === 2);
}

function onSetScopeInfo(d) {
  const cls = new Map();
  const mark = (list, c) => { if (Array.isArray(list)) for (const path of list) if (typeof path === 'string') cls.set(path, c); };
  mark(d.notCode, 1);
  mark(d.testOrGenerated, 2);
  S.scopeInfo = { folderName: str(d.folderName), cls };
  if (S.project) { S.project.cls = null; S.project.densityTop = 0; }
  map.tree = null; scheduleMap();
  $('scope').disabled = false;
  renderHeader();
  if (S.project) {
    refreshList();
    setStatus(statusNow());  // it named the project before the folder's name came
  }
}

function setScope(scope) {
  if (scope !== 'code' && scope !== 'nontest') scope = 'all';
  if (S.scope === scope) return;
  S.scope = scope;
  $('scope').value = scope;
  if (!S.project) return;
  S.project.densityTop = 0;
  refreshList();
  scheduleMap();
  list.el.scrollTop = 0;
  if (S.cursor >= 0) moveCursor(S.cursor);
  if (S.view === 'audit') requestAudit();
  else if (S.audit && S.audit.scope !== scope) { S.auditStale = true; renderAuditStale(); }
}

// The relative path of a file, as the list shows it.
function relOf(f) {
  return f.path.slice(S.project.rootLen) || f.name;
}

// Lower-case relative paths, for filtering and the path order.
function fileKeys() {
  const p = S.project;
  if (!p.keys) p.keys = p.files.map((f) => relOf(f).toLowerCase());
  return p.keys;
}

function fileOrder(mode) {
  if (S.orders[mode]) return S.orders[mode];
  if (S.project.pendingAt && mode !== 'path') return (S.orders[mode] = pendingOrder(mode));
  const files = S.project.files, n = files.length;
  const idx = new Int32Array(n);
  for (let i = 0; i < n; i++) idx[i] = i;
  // Ties keep the host's order, which is already by path.
  if (mode === 'total') {
    const h01 = new Float64Array(n), cv = new Float64Array(n);
    for (let i = 0; i < n; i++) { h01[i] = files[i].heat01; cv[i] = files[i].heatCV; }
    idx.sort((a, b) => (h01[b] - h01[a]) || (cv[b] - cv[a]) || (a - b));
  } else if (mode === 'density') {
    const dn = new Float64Array(n);
    for (let i = 0; i < n; i++) dn[i] = densityOf(files[i]);
    idx.sort((a, b) => (dn[b] - dn[a]) || (a - b));
  } else {
    const keys = fileKeys();
    idx.sort((a, b) => {
      const ka = keys[a], kb = keys[b];
      return ka < kb ? -1 : ka > kb ? 1 : a - b;
    });
  }
  S.orders[mode] = idx;
  return idx;
}

// A pending list in heat order: the filled files, then the pending ones in
// path order. Each batch is sorted alone and merged into the files filled
// before it, rather than sorting every file again for every batch. By heat
// alone, as heat01 rises with it on any scale.
function pendingOrder(mode) {
  const p = S.project, files = p.files;
  const key = mode === 'total' ? (i) => files[i].heatCV : (i) => densityOf(files[i]);
  const before = (a, b) => key(b) - key(a) || a - b;
  const fresh = Int32Array.from(p.fresh[mode]).sort(before);
  p.fresh[mode] = [];
  const done = p.filled[mode], merged = new Int32Array(done.length + fresh.length);
  for (let i = 0, j = 0, k = 0; k < merged.length; k++) {
    merged[k] = j >= fresh.length || (i < done.length && before(done[i], fresh[j]) < 0) ? done[i++] : fresh[j++];
  }
  p.filled[mode] = merged;
  const order = new Int32Array(files.length);
  order.set(merged);
  for (let i = 0, k = merged.length; i < files.length; i++) if (files[i].pending) order[k++] = i;
  return order;
}

function refreshList() {
  const p = S.project;
  if (!p) { S.visible = new Int32Array(0); renderList(true); return; }
  const order = fileOrder(S.sort === 'heat' ? S.rank : 'path');
  const terms = S.filter.toLowerCase().split(/\s+/).filter(Boolean);
  S.filterTerms = terms;
  const leftOut = scopeLeavesOut();
  if (!terms.length && !leftOut) {
    S.visible = order;
  } else {
    const out = new Int32Array(order.length);
    const keys = terms.length ? fileKeys() : null;
    let m = 0;
    for (let i = 0; i < order.length; i++) {
      if (leftOut && leftOut(order[i])) continue;
      let ok = true;
      if (keys) {
        const key = keys[order[i]];
        for (let t = 0; t < terms.length; t++) if (key.indexOf(terms[t]) < 0) { ok = false; break; }
      }
      if (ok) out[m++] = order[i];
    }
    S.visible = out.subarray(0, m);
  }
  S.cursor = -1;
  if (S.cursorPath || S.selected) {
    const want = S.cursorPath || S.selected;
    for (let i = 0; i < S.visible.length; i++) if (p.files[S.visible[i]].path === want) { S.cursor = i; break; }
  }
  if (S.cursor < 0 && S.visible.length && terms.length) S.cursor = 0;
  const n = S.visible.length, total = p.files.length;
  $('listCount').textContent = terms.length || n < total ? fmtInt(n) + ' of ' + fmtInt(total) : fmtInt(total) + (total === 1 ? ' file' : ' files');
  renderList(true);
}
