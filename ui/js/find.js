// ---------------------------------------------------------------- find your way: scaled scrolling
// Browsers cap an element's height (about 33 million px in Chromium, less elsewhere), so a
// longer file scrolls on a shorter track and the rows are placed from a virtual top.
const MAX_SCROLL_PX = 4000000;
function scrollK() {
  const total = S.code ? S.code.lines.length * code.lineH : 0, h = code.height || code.el.clientHeight;
  return total > MAX_SCROLL_PX ? Math.max(1, (total - h) / (MAX_SCROLL_PX - h)) : 1;
}
const codeTop = () => (code.k === 1 ? code.el.scrollTop : code.vTop);
function setCodeTop(v) {
  const h = code.height || code.el.clientHeight, max = Math.max(0, (S.code ? S.code.lines.length * code.lineH : 0) - h);
  v = Math.max(0, Math.min(max, v));
  if (code.k === 1) code.el.scrollTop = v;
  else { code.vTop = v; code.el.scrollTop = v / code.k; }
  renderCode(false);
}
function onCodeScroll() {
  // Our own moves leave the track within a pixel of the virtual top; anything else is the scroll bar.
  if (code.k !== 1 && Math.abs(code.el.scrollTop - code.vTop / code.k) >= 1) code.vTop = code.el.scrollTop * code.k;
  renderCode(false);
}
function syncScale() {
  const top = codeTop();
  code.k = scrollK();
  setCodeTop(top);
}
// On a scaled track the browser's own steps would skip thousands of lines.
function codeKeys(e) {
  if (code.k === 1 || e.ctrlKey || e.metaKey) return false;
  const page = (code.height || code.el.clientHeight) - code.lineH, top = codeTop();
  const to = { ArrowDown: top + code.lineH, ArrowUp: top - code.lineH, PageDown: top + page, PageUp: top - page, Home: 0, End: Infinity }[e.key];
  if (to === undefined) return false;
  e.preventDefault();
  setCodeTop(to);
  return true;
}
function onCodeWheel(e) {
  if (code.k === 1 || e.ctrlKey) return;
  e.preventDefault();
  const unit = e.deltaMode === 1 ? code.lineH : e.deltaMode === 2 ? code.height : 1;
  code.el.scrollLeft += e.deltaX * unit;
  setCodeTop(codeTop() + e.deltaY * unit);
}

// ---------------------------------------------------------------- find your way: status, focus, highlights
function statusNow() {
  const p = S.project, c = S.code;
  if (!p) return S.run && S.run.busy ? '' : 'Ready';
  if (S.view === 'map') { const nd = mapNode(); return nd ? (nd.rel || displayName()) + '  \u00b7  ' + fmtInt(nd.count) + ' files  \u00b7  ' + fmtInt(nd.lines) + ' lines' : ''; }
  if (S.view === 'audit') return S.audit ? 'Audit: ' + S.audit.items.length + (S.audit.items.length === 1 ? ' line' : ' lines') : 'Collecting the hottest lines\u2026';
  if (c) return relPath(c.path) + '  \u00b7  ' + fmtInt(c.lines.length) + (c.lines.length === 1 ? ' line' : ' lines');
  return displayName() + '  \u00b7  ' + fmtInt(p.files.length) + (p.files.length === 1 ? ' file' : ' files');
}

const nav = { auditReturn: null, focusAudit: false, auditRow: 0, barReturn: null };

function auditFocus() {
  const a = document.activeElement;
  if (a && a !== document.body && !$('auditPane').contains(a)) nav.auditReturn = a;
  showView('audit');
  if ($('auditBody').querySelector('tr.item')) focusAuditRow(nav.auditRow);
  else { nav.focusAudit = true; $('auditPane').focus(); }
}
function focusAuditRow(k) {
  const rows = $('auditBody').querySelectorAll('tr.item');
  if (rows.length) rows[Math.max(0, Math.min(rows.length - 1, k))].focus();
}
// Keeps the one tab stop of the audit on the row that last had focus.
function onAuditFocusIn(e) {
  const tr = e.target.closest && e.target.closest('tr.item');
  if (!tr) return;
  nav.auditRow = Number(tr.dataset.index);
  for (const r of $('auditBody').querySelectorAll('tr.item')) r.tabIndex = r === tr ? 0 : -1;
}
function leaveAudit() {
  const back = nav.auditReturn;
  nav.auditReturn = null; nav.focusAudit = false;
  if (!back || !document.contains(back) || $('codePane').contains(back) || back.closest('.tabs, header')) showView('code');
  (back && document.contains(back) && !$('auditPane').contains(back) ? back : list.el).focus();
}

// Splits text into plain runs and <mark> runs; ranges are sorted, disjoint [start, end, class].
function fillMarked(el, text, ranges) {
  if (!ranges.length) { el.textContent = text; return; }
  el.textContent = '';
  let at = 0;
  for (const [a, b, cls] of ranges) {
    if (a >= text.length) break;
    if (a > at) el.append(text.slice(at, a));
    const m = document.createElement('mark');
    if (cls) m.className = cls;
    m.textContent = text.slice(Math.max(a, at), Math.min(b, text.length));
    el.append(m);
    at = Math.min(b, text.length);
  }
  if (at < text.length) el.append(text.slice(at));
}

// The folder part as it fits beside the whole file name: [keep, resume] cuts
// rel.slice(keep, resume) out for an ellipsis; null when all of it fits.
const pathFit = { ctx: null, width: 0, font: '', bold: '', mono: '', folds: new Map() };
function measurePathFit() {
  if (!pathFit.ctx) pathFit.ctx = document.createElement('canvas').getContext('2d');
  const family = getComputedStyle(document.body).fontFamily, mono = cssVar('--font-mono');
  pathFit.font = '13px ' + family; pathFit.bold = '600 13px ' + family; pathFit.mono = '11.5px ' + mono;
  pathFit.width = pathRoom();
  pathFit.folds.clear();
}
// The list row's width for a path: less its padding and border, the bar and two gaps.
function pathRoom() { return list.el.clientWidth - 22 - 42 - 18; }
function textWidth(font, text) { pathFit.ctx.font = font; return pathFit.ctx.measureText(text).width; }
// A row is drawn again whenever the list changes (a batch of a first run
// fills it several times a second); the canvas measures slowly in some views.
function foldersToShow(rel, cut, figure) {
  if (!cut) return null;
  if (!pathFit.ctx || !pathFit.width) measurePathFit();
  const key = figure + '\n' + rel;
  let fold = pathFit.folds.get(key);
  if (fold === undefined) {
    if (pathFit.folds.size > 4096) pathFit.folds.clear();
    fold = foldSpan(rel, cut, figure);
    pathFit.folds.set(key, fold);
  }
  return fold;
}
function foldSpan(rel, cut, figure) {
  const room = pathFit.width - Math.max(44, textWidth(pathFit.mono, figure)) - textWidth(pathFit.bold, rel.slice(cut)) - 2;
  const dir = rel.slice(0, cut);
  if (textWidth(pathFit.font, dir) <= room) return null;
  const firstSep = dir.search(/[\\/]/);
  const first = firstSep >= 0 && firstSep < cut - 1 ? dir.slice(0, firstSep + 1) : '';
  // Whole folder names read better than a torn one: the end resumes at a separator when it can.
  const fit = (head) => {
    let lo = 0, hi = cut - head;  // characters kept from the end of the folders
    while (lo < hi) {
      const m = (lo + hi + 1) >> 1;
      if (textWidth(pathFit.font, dir.slice(0, head) + '\u2026' + dir.slice(cut - m)) <= room) lo = m; else hi = m - 1;
    }
    let resume = cut - lo;
    if (resume > head && !isSep(dir.charCodeAt(resume - 1))) {
      const k = dir.slice(resume, cut - 1).search(/[\\/]/);
      if (k >= 0) resume += k;
    }
    return { fold: [head, resume], whole: isSep(dir.charCodeAt(resume - 1)) || isSep(dir.charCodeAt(resume)) };
  };
  // The first folder stays when it fits, unless the last one would then be torn and fits without it.
  const withHead = textWidth(pathFit.font, first + '\u2026') <= room * 0.6 ? fit(first.length) : null;
  const plain = withHead && withHead.whole ? null : fit(0);
  return (withHead && (withHead.whole || !plain.whole) ? withHead : plain).fold;
}

function fillFilterMarks(dEl, nEl, rel, cut, fold) {
  const terms = S.filterTerms || [], ranges = [];
  if (terms.length) {
    const low = rel.toLowerCase();
    if (low.length === rel.length) {
      for (const t of terms) for (let i = low.indexOf(t); i >= 0; i = low.indexOf(t, i + t.length)) ranges.push([i, i + t.length]);
    }
    ranges.sort((x, y) => x[0] - y[0]);
    for (let k = 1; k < ranges.length; k++) {
      if (ranges[k][0] <= ranges[k - 1][1]) { ranges[k - 1][1] = Math.max(ranges[k - 1][1], ranges[k][1]); ranges.splice(k--, 1); }
    }
  }
  let dRanges = ranges.filter((r) => r[0] < cut).map((r) => [r[0], Math.min(r[1], cut)]);
  let dir = rel.slice(0, cut);
  if (fold) {
    const [keep, resume] = fold, shift = resume - keep - 1;
    dir = rel.slice(0, keep) + '\u2026' + rel.slice(resume, cut);
    dRanges = dRanges.flatMap((r) => [r[0] < keep ? [r[0], Math.min(r[1], keep)] : null, r[1] > resume ? [Math.max(r[0], resume) - shift, r[1] - shift] : null])
      .filter(Boolean);
  }
  fillMarked(dEl, dir, dRanges);
  dEl.title = fold ? rel.slice(0, cut) : '';
  fillMarked(nEl, rel.slice(cut), ranges.filter((r) => r[1] > cut).map((r) => [Math.max(0, r[0] - cut), r[1] - cut]));
}

// ---------------------------------------------------------------- find your way: find and go to line
const MAX_FIND = 100000;  // enough to count; beyond it the count reads "100,000+"
const find = { open: false, query: '', lines: [], cols: [], len: 0, cur: -1, capped: false };

function firstMatchFrom(line) {
  let lo = 0, hi = find.lines.length;
  while (lo < hi) { const mid = (lo + hi) >> 1; if (find.lines[mid] < line) lo = mid + 1; else hi = mid; }
  return lo;
}

function runFind(keepPlace) {
  const c = S.code, q = find.query.toLowerCase();
  const from = keepPlace && find.cur >= 0 ? find.lines[find.cur] : Math.floor(codeTop() / code.lineH);
  find.lines = []; find.cols = []; find.len = q.length; find.cur = -1; find.capped = false;
  if (c && q) {
    if (!c.lower) c.lower = c.lines.map((s) => s.toLowerCase());
    scan: for (let i = 0; i < c.lower.length; i++) {
      const s = c.lower[i];
      for (let at = s.indexOf(q); at >= 0; at = s.indexOf(q, at + q.length)) {
        if (find.lines.length >= MAX_FIND) { find.capped = true; break scan; }
        find.lines.push(i); find.cols.push(at);
      }
    }
    if (find.lines.length) { const k = firstMatchFrom(from); find.cur = k < find.lines.length ? k : 0; }
  }
  renderFindCount();
  if (find.cur >= 0) revealMatch(); else renderCode(true);
}

function renderFindCount() {
  const n = find.lines.length;
  $('findCount').textContent = !find.query ? '' : !n ? 'No results' : fmtInt(find.cur + 1) + ' of ' + fmtInt(n) + (find.capped ? '+' : '');
}

function fillFindMarks(tx, shown, i) {
  if (!find.open || !find.lines.length) { tx.textContent = shown; return; }
  const ranges = [];
  for (let m = firstMatchFrom(i); m < find.lines.length && find.lines[m] === i; m++) {
    ranges.push([find.cols[m], find.cols[m] + find.len, m === find.cur ? 'cur' : '']);
  }
  fillMarked(tx, shown, ranges);
}

function revealMatch() {
  const line = find.lines[find.cur], col = find.cols[find.cur], top = codeTop(), h = code.height || code.el.clientHeight;
  const y = line * code.lineH;
  if (y < top || y + code.lineH > top + h) scrollToLine(line, true);
  const s = S.code.lines[line], x = (expandTabs(s.slice(0, col)).length) * code.charW, w = code.el.clientWidth - code.noW - 40;
  if (x < code.el.scrollLeft || x + find.len * code.charW > code.el.scrollLeft + w) code.el.scrollLeft = Math.max(0, x - w / 3);
  renderCode(true);
  renderFindCount();
}

function stepFind(dir) {
  const n = find.lines.length;
  if (!n) return;
  find.cur = (find.cur + dir + n) % n;
  revealMatch();
}

function openBar(id) {
  if (!S.project) return;
  const a = document.activeElement;
  if (a && !a.closest('.bar-float')) nav.barReturn = a;
  if (S.view !== 'code') showView('code');
  for (const b of document.querySelectorAll('.bar-float')) b.classList.toggle('show', b.id === id);
  if (find.open !== (id === 'findBar')) { find.open = id === 'findBar'; renderCode(true); }
}

function openFind() {
  openBar('findBar');
  if (!S.project) return;
  const input = $('findInput'), picked = String(window.getSelection ? window.getSelection() : '');
  if (picked && picked.indexOf('\n') < 0 && picked.length < 200) input.value = picked;
  input.focus();
  input.select();
  find.query = input.value;
  runFind(true);
}

function openGoto() {
  openBar('gotoBar');
  if (!S.project) return;
  const n = S.code ? S.code.lines.length : 0;
  $('gotoRange').textContent = n ? '1\u2013' + fmtInt(n) : 'No file open';
  const input = $('gotoInput');
  input.value = '';
  input.placeholder = 'Go to line';
  input.focus();
}

function goToLine() {
  const c = S.code, raw = $('gotoInput').value.trim();
  if (!c) return;
  const want = /^\d+$/.test(raw) ? Number(raw) : NaN;
  if (!(want >= 1)) { setStatus('Type a line number from 1 to ' + fmtInt(c.lines.length)); return; }
  closeBars();
  S.mark = Math.min(want, c.lines.length) - 1;
  scrollToLine(S.mark, true);
  renderCode(false);
  flashMark();
  setStatus('Line ' + fmtInt(S.mark + 1) + ' of ' + relPath(c.path));
}

function closeBars() {
  for (const b of document.querySelectorAll('.bar-float')) b.classList.remove('show');
  if (find.open) { find.open = false; renderCode(true); }
  const back = nav.barReturn;
  nav.barReturn = null;
  (S.code || !back || !document.contains(back) ? code.el : back).focus();
}

function barKeys(e) {
  if (e.key === 'Escape') { e.preventDefault(); closeBars(); return; }
  if (e.key !== 'Enter') return;
  e.preventDefault();
  if (e.target === $('findInput')) stepFind(e.shiftKey ? -1 : 1); else goToLine();
}

// ---------------------------------------------------------------- find your way: zoom and copy
const CODE_SIZES = [8, 9, 10, 11, 12.5, 14, 16, 18, 20, 24, 28];
function zoomCode(step) {
  const i = CODE_SIZES.indexOf(code.fontPx);
  const next = step === 0 ? 12.5 : CODE_SIZES[Math.max(0, Math.min(CODE_SIZES.length - 1, i + step))];
  if (next === code.fontPx) return;
  const firstLine = codeTop() / code.lineH;
  code.fontPx = next;
  code.lineH = Math.round(next * 1.6);
  code.el.style.setProperty('--code-px', next + 'px');
  code.el.style.setProperty('--line-h', code.lineH + 'px');
  measureChar();
  layoutCode();
  setCodeTop(firstLine * code.lineH);
  renderCode(true);
  drawOverview();
  setStatus('Code text at ' + Math.round((next / 12.5) * 100) + '%');
}

// The selection in the code view as line and column, from a DOM boundary point.
function linePoint(node, offset, isEnd) {
  if (node === code.spacer) {
    const row = code.spacer.childNodes[isEnd ? offset - 1 : offset];
    if (!row || !row._v || row._v.idx < 0) return null;
    return { line: row._v.idx, col: isEnd ? S.code.lines[row._v.idx].length : 0 };
  }
  const el = node.nodeType === 1 ? node : node.parentNode, row = el && el.closest ? el.closest('.cl') : null;
  if (!row || row._v.idx < 0) return null;
  const line = row._v.idx, s = S.code.lines[line];
  if (el.closest('.no')) return { line, col: 0 };
  if (el.closest('.cut')) return { line, col: s.length };
  if (!row._v.tx.contains(node)) return { line, col: offset === 0 ? 0 : s.length };
  const before = document.createRange();
  before.setStart(row._v.tx, 0);
  before.setEnd(node, offset);
  return { line, col: Math.min(s.length, before.toString().length) };
}

// Text only: no line numbers, no cut notes, and whole lines even past the display cut.
function codeSelectionText() {
  const c = S.code, sel = window.getSelection();
  if (!c || !sel || !sel.rangeCount) return null;
  const r = sel.getRangeAt(0);
  if (r.collapsed || !code.el.contains(r.commonAncestorContainer)) return null;
  if (r.startContainer === code.spacer && r.startOffset === 0 && r.endContainer === code.spacer && r.endOffset === code.spacer.childNodes.length) {
    return c.lines.join('\n');  // Ctrl+A in the code view
  }
  const a = linePoint(r.startContainer, r.startOffset, false), b = linePoint(r.endContainer, r.endOffset, true);
  if (!a || !b) return null;
  if (a.line === b.line) return c.lines[a.line].slice(a.col, b.col);
  const out = [c.lines[a.line].slice(a.col)];
  for (let i = a.line + 1; i < b.line; i++) out.push(c.lines[i]);
  out.push(c.lines[b.line].slice(0, b.col));
  return out.join('\n');
}

let clipText = null;
function onCopy(e) {
  const text = clipText !== null ? clipText : codeSelectionText();
  clipText = null;
  if (text === null || !e.clipboardData) return;
  e.clipboardData.setData('text/plain', text);
  e.preventDefault();
}
function copyText(text, what) {
  clipText = text;
  let ok = false;
  try { ok = document.execCommand('copy'); } catch (err) { ok = false; }
  if (clipText !== null) { clipText = null; ok = false; }  // no copy event came
  if (ok) { setStatus('Copied ' + what + ': ' + text); return; }
  const done = () => setStatus('Copied ' + what + ': ' + text), failed = () => setStatus('Could not copy the ' + what);
  if (navigator.clipboard && navigator.clipboard.writeText) navigator.clipboard.writeText(text).then(done, failed); else failed();
}
// The list's cursor when the list has focus, else the open file.
function pathInFocus() {
  if (document.activeElement === list.el && S.cursor >= 0 && S.cursor < S.visible.length) return S.project.files[S.visible[S.cursor]].path;
  return S.code ? S.code.path : S.selected;
}
function copyPath(relative, path) {
  path = path || pathInFocus();
  if (!path) { setStatus('No file to copy the path of'); return; }
  if (relative) copyText(relPath(path), 'relative path'); else copyText(path, 'path');
}

const menuFor = { path: '', back: null };
function openContextMenu(e, path) {
  if (!path) return;
  e.preventDefault();
  menuFor.path = path;
  menuFor.back = document.activeElement;
  const menu = $('ctxMenu'), hasText = !!codeSelectionText();
  $('ctxCopy').style.display = hasText ? '' : 'none';
  menu.classList.add('show');
  const w = menu.offsetWidth, h = menu.offsetHeight;
  menu.style.left = Math.min(e.clientX, window.innerWidth - w - 4) + 'px';
  menu.style.top = Math.min(e.clientY, window.innerHeight - h - 4) + 'px';
  (hasText ? $('ctxCopy') : $('ctxPath')).focus();
}
function closeContextMenu(refocus) {
  if (!$('ctxMenu').classList.contains('show')) return false;
  $('ctxMenu').classList.remove('show');
  if (refocus && menuFor.back && document.contains(menuFor.back)) menuFor.back.focus();
  return true;
}

function modKeys(e, k) {
  const inCode = e.target === code.el || (e.target && e.target.closest && e.target.closest('#codePane'));
  if (k === 'f') { e.preventDefault(); openFind(); }
  else if (k === 'g') { e.preventDefault(); openGoto(); }
  else if (k === '=' || k === '+') { e.preventDefault(); zoomCode(1); }
  else if (k === '-' || k === '_') { e.preventDefault(); zoomCode(-1); }
  else if (k === '0') { e.preventDefault(); zoomCode(0); }
  else if (k === 'c' && e.shiftKey) { e.preventDefault(); copyPath(false); }
  else if (k === 'a' && inCode && !isTyping(e.target) && S.code) { e.preventDefault(); window.getSelection().selectAllChildren(code.spacer); }
}

function initFindYourWay() {
  code.el.addEventListener('wheel', onCodeWheel, { passive: false });
  $('findInput').addEventListener('input', (e) => { find.query = e.target.value; runFind(true); });
  $('findNext').addEventListener('click', () => stepFind(1));
  $('findPrev').addEventListener('click', () => stepFind(-1));
  $('findClose').addEventListener('click', closeBars);
  $('auditBody').addEventListener('focusin', onAuditFocusIn);
  document.addEventListener('copy', onCopy);
  list.el.addEventListener('contextmenu', (e) => { const row = e.target.closest('.row'); if (row && row._v.f) openContextMenu(e, row._v.f.path); });
  code.el.addEventListener('contextmenu', (e) => openContextMenu(e, S.code && S.code.path));
  $('codePath').addEventListener('contextmenu', (e) => openContextMenu(e, S.code ? S.code.path : S.selected));
  $('ctxCopy').addEventListener('click', () => { const t = codeSelectionText(); closeContextMenu(true); if (t) copyText(t, 'lines'); });
  $('ctxPath').addEventListener('click', () => { closeContextMenu(true); copyPath(false, menuFor.path); });
  $('ctxRel').addEventListener('click', () => { closeContextMenu(true); copyPath(true, menuFor.path); });
  document.addEventListener('pointerdown', (e) => { if (!e.target.closest('#ctxMenu')) closeContextMenu(false); });
  // Escape and Alt+Shift+C before the other keys see them.
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' && closeContextMenu(true)) { e.preventDefault(); e.stopImmediatePropagation(); }
    else if (e.altKey && e.shiftKey && !e.ctrlKey && !e.metaKey && e.code === 'KeyC') { e.preventDefault(); e.stopImmediatePropagation(); copyPath(true); }
  }, true);
}
