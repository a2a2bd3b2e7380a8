// ---------------------------------------------------------------- audit
const MAX_AUDIT_ROWS = 300;   // the host sends 30; more is a faulty message
const AUDIT_PER_FILE = 3;

function onSetAudit(d) {
  const raw = Array.isArray(d.items) ? d.items : [];
  const items = [];
  for (let i = 0; i < raw.length && items.length < MAX_AUDIT_ROWS; i++) {
    const r = raw[i];
    if (!r || typeof r !== 'object' || typeof r.path !== 'string' || r.path === '') continue;
    const line = Math.max(0, Math.floor(num(r.lineStart)));
    items.push({
      path: r.path,
      file: str(r.file) || lastComponent(r.path),
      line,
      lineEnd: Math.max(line, Math.floor(num(r.lineEnd, line))),
      cv: num(r.cv),
      heat01: clamp01(num(r.heat01)),
      preview: str(r.preview),
      src: i,
    });
  }
  S.audit = { hint: str(d.hint), items, dropped: raw.length - items.length, scope: S.auditScope, cap: !!S.auditCapAsked };
  S.auditLoading = false;
  S.auditStale = false;
  renderAudit();
  if (S.view === 'audit') setStatus('Audit: ' + items.length + (items.length === 1 ? ' line' : ' lines'));
}

function renderAuditStale() { $('auditStale').classList.toggle('show', !!(S.auditStale && S.audit)); }

function renderAudit() {
  const body = $('auditBody'), a = S.audit;
  $('auditHint').textContent = !a ? '' : (a.scope === 'all' ? a.hint : a.hint.replace('Whole codebase', $('scope').querySelector('option[value="' + a.scope + '"]').textContent)) +
    (a.cap ? '  \u00b7  at most ' + AUDIT_PER_FILE + ' lines per file' : '');
  renderAuditStale();
  body.textContent = '';
  if (!a) {
    const note = document.createElement('div');
    note.className = 'audit-empty';
    note.textContent = S.auditLoading ? 'Collecting the hottest lines of the codebase\u2026' : 'No audit yet.';
    body.appendChild(note);
    return;
  }
  if (!a.items.length) {
    const note = document.createElement('div');
    note.className = 'audit-empty';
    note.textContent = 'No hot lines in this project.';
    body.appendChild(note);
    return;
  }
  const hadFocus = body.contains(document.activeElement) || (nav.focusAudit && S.view === 'audit');
  const table = document.createElement('table');
  table.className = 'audit';
  table.innerHTML = '<colgroup><col style="width:36px"><col style="width:22%"><col style="width:64px"><col style="width:142px">' +
    '<col style="width:56px"><col></colgroup><thead><tr><th class="rank">#</th><th>File</th><th class="num">Line</th>' +
    '<th title="Raw heat of the line; the bar compares it with the hottest line">Heat</th>' +
    '<th class="num" title="Share of its file\u2019s heat">Share</th><th>Preview</th></tr></thead>';
  let top = 0;
  for (const it of a.items) if (it.cv > top) top = it.cv;
  const tbody = document.createElement('tbody');
  const frag = document.createDocumentFragment();
  a.items.forEach((it, k) => {
    const tr = document.createElement('tr');
    tr.className = 'item';
    tr.tabIndex = k === Math.min(nav.auditRow, a.items.length - 1) ? 0 : -1;  // one tab stop
    tr.dataset.index = k;
    const rel = relPath(it.path), dirEnd = lastSep(rel);
    tr.title = it.path + (it.line ? ':' + it.line : '') + '\nHeat ' + fmt2(it.cv) + ' \u00b7 ' + pct(it.heat01) + ' of the file\u2019s heat\nClick to open at this line';
    const td = (cls) => { const e = document.createElement('td'); if (cls) e.className = cls; tr.appendChild(e); return e; };
    td('rank').textContent = k + 1;
    const fileTd = td('file');
    const b = document.createElement('b'); b.textContent = it.file;
    const dir = document.createElement('span'); dir.textContent = '  ' + rel.slice(0, dirEnd + 1);
    fileTd.append(b, dir);
    td('num').textContent = it.line ? (it.lineEnd > it.line ? fmtInt(it.line) + '\u2013' + fmtInt(it.lineEnd) : fmtInt(it.line)) : '\u2013';
    const rel01 = top > 0 ? clamp01(it.cv / top) : 0;
    const heatTd = td('');
    const wrap = document.createElement('div'); wrap.className = 'share';
    const bar = document.createElement('span'); bar.className = 'bar';
    const fill = document.createElement('i');
    fill.style.width = Math.max(rel01 > 0 ? 6 : 0, rel01 * 100) + '%';
    fill.style.background = heatFill(rel01);
    bar.appendChild(fill);
    const label = document.createElement('span'); label.className = 'num'; label.textContent = fmt2(it.cv);
    wrap.append(bar, label);
    heatTd.appendChild(wrap);
    td('num').textContent = pct(it.heat01);
    // The code gets the cell's width; its reason goes on a line below it.
    const prev = td('prev'), codeEl = document.createElement('code');
    codeEl.textContent = it.preview.replace(/^\s+/, '');
    prev.appendChild(codeEl);
    if (it.reason) {
      const tag = document.createElement('span');
      tag.className = 'why-line';
      tag.textContent = it.reason;
      prev.appendChild(tag);
    }
    frag.appendChild(tr);
  });
  tbody.appendChild(frag);
  table.appendChild(tbody);
  body.appendChild(table);
  if (a.dropped > 0) {
    const note = document.createElement('div');
    note.className = 'audit-empty';
    note.textContent = fmtInt(a.dropped) + ' more entries not shown.';
    body.appendChild(note);
  }
  if (hadFocus) { nav.focusAudit = false; focusAuditRow(nav.auditRow); }
}

function auditActivate(k) {
  const a = S.audit;
  if (!a || !a.items[k]) return;
  const it = a.items[k];
  S.cursorPath = it.path;
  openPath(it.path, it.line || 0);
  refreshCursorToSelection();
}

function refreshCursorToSelection() {
  if (!S.project) return;
  for (let i = 0; i < S.visible.length; i++) {
    if (S.project.files[S.visible[i]].path === S.selected) { moveCursor(i, true); return; }
  }
  renderList(false);
}

function requestAudit(focus) {
  if (!S.project) return;
  nav.auditRow = 0;
  if (focus === true) auditFocus();
  S.auditLoading = true;
  if (!S.audit) renderAudit();
  // Without a scope the host answers for the whole project; without a cap, as many lines per file as are hottest.
  const ask = { type: 'requestAudit' };
  if (S.scope !== 'all') ask.scope = S.scope;
  if (S.auditCap) ask.perFile = String(AUDIT_PER_FILE);
  send(ask);
  S.auditScope = S.scope;
  S.auditCapAsked = S.auditCap;
  showView('audit');
  setStatus('Collecting the hottest lines\u2026');
}
