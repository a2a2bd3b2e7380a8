// ---------------------------------------------------------------- input
function isTyping(t) { return t && (t.tagName === 'INPUT' || t.tagName === 'TEXTAREA' || t.isContentEditable); }

function listKeys(e) {
  const page = Math.max(1, Math.floor((list.height || list.el.clientHeight) / list.rowH) - 1);
  const cur = S.cursor < 0 ? -1 : S.cursor;
  switch (e.key) {
    case 'ArrowDown': moveCursor(cur + 1); break;
    case 'ArrowUp': moveCursor(cur < 0 ? 0 : cur - 1); break;
    case 'PageDown': moveCursor(cur + page); break;
    case 'PageUp': moveCursor(cur - page); break;
    case 'Home': moveCursor(0); break;
    case 'End': moveCursor(S.visible.length - 1); break;
    case 'Enter': openCursor(); break;
    default: return false;
  }
  e.preventDefault();
  return true;
}

function auditKeys(e) {
  const rows = $('auditBody').querySelectorAll('tr.item');
  if (!rows.length) return false;
  const cur = Array.prototype.indexOf.call(rows, document.activeElement);
  let next;
  switch (e.key) {
    case 'ArrowDown': next = cur + 1; break;
    case 'ArrowUp': next = cur < 0 ? 0 : cur - 1; break;
    case 'Home': next = 0; break;
    case 'End': next = rows.length - 1; break;
    case 'Enter': if (cur >= 0) { auditActivate(cur); e.preventDefault(); return true; } return false;
    default: return false;
  }
  focusAuditRow(next);
  e.preventDefault();
  return true;
}

function onKey(e) {
  const mod = e.ctrlKey || e.metaKey;
  if (mod && !e.altKey) {
    const k = e.key.toLowerCase();
    if (k === 'o') { e.preventDefault(); send({ type: 'pickFolder' }); return; }
    if (k === 's') { e.preventDefault(); snapshot(); return; }
    if (k === 'q') { e.preventDefault(); send({ type: 'quitApp' }); return; }
    modKeys(e, k);
    return;
  }
  if (e.key === 'Escape' && $('help').classList.contains('show')) { $('help').classList.remove('show'); e.preventDefault(); return; }
  const t = e.target;
  if (t === $('filter')) {
    if (e.key === 'Escape') {
      e.preventDefault();
      if (t.value) { t.value = ''; S.filter = ''; refreshList(); }
      list.el.focus();  // so the next "/" is a shortcut again
      return;
    }
    // Down steps into the list onto the cursor filtering placed, without passing it.
    if (e.key === 'ArrowDown') { e.preventDefault(); moveCursor(S.cursor < 0 ? 0 : S.cursor); list.el.focus(); return; }
    if (['ArrowUp', 'PageDown', 'PageUp', 'Enter'].includes(e.key)) listKeys(e);
    return;
  }
  if (t === $('findInput') || t === $('gotoInput')) { barKeys(e); return; }
  if (isTyping(t) || e.altKey) return;
  if (t === list.el && listKeys(e)) return;
  if (t === code.el && codeKeys(e)) return;
  if (e.key === 'Escape' && t && t.closest && t.closest('#auditPane')) { e.preventDefault(); leaveAudit(); return; }
  if (t && t.closest && t.closest('#auditPane') && auditKeys(e)) return;
  switch (e.key) {
    case '/': e.preventDefault(); $('filter').focus(); $('filter').select(); break;
    case 'a': case 'A': if (S.project) requestAudit(true); break;
    case 'c': case 'C': showView('code'); code.el.focus(); break;
    case 'o': case 'O': if (S.project) showView('map'); break;
    case 'h': case 'H': if (S.project) { showView('hotspots'); $('hotCanvas').focus(); } break;
    case ']': jumpHot(1); break;
    case '[': jumpHot(-1); break;
    case '?': $('help').classList.toggle('show'); break;
    case 'Escape':
      if (S.mark >= 0) { S.mark = -1; renderCode(false); }
      if (!why.closed) { why.closed = true; renderWhy(); }
      break;
    default: break;
  }
}

let resizeRaf = 0;
function measure() {
  list.height = list.el.clientHeight;
  if (pathFit.ctx && pathFit.width !== pathRoom()) { measurePathFit(); renderList(true); }
  code.height = code.el.clientHeight;
  if (S.code && code.k !== scrollK()) syncScale();
}
function onResize() {
  if (resizeRaf) return;
  resizeRaf = requestAnimationFrame(() => {
    resizeRaf = 0;
    measure();
    renderList(false);
    renderCode(false);
    drawOverview();
    scheduleMap();
  });
}

function measureChar() {
  const probe = document.createElement('span');
  probe.style.cssText = 'position:absolute;visibility:hidden;white-space:pre;font:' + code.fontPx + 'px var(--font-mono)';
  probe.textContent = '0'.repeat(100);
  document.body.appendChild(probe);
  const w = probe.getBoundingClientRect().width / 100;
  probe.remove();
  if (w > 0) code.charW = w;
}

function applyTheme() {
  buildHeatColours();
  paintBrand();
  paintRamp($('legendRamp'));
  paintRamp($('legendRampFiles'));
  paintRamp($('welcomeRamp'));
  renderList(true);
  renderCode(true);
  drawOverview();
  if (S.audit) renderAudit();
  map.tree = null; scheduleMap();
}

function initSplitter() {
  const sp = $('splitter');
  let startX = 0, startW = 0;
  const move = (e) => {
    const w = Math.max(220, Math.min(window.innerWidth * 0.7, startW + e.clientX - startX));
    document.documentElement.style.setProperty('--list-w', w + 'px');
    onResize();
  };
  sp.addEventListener('pointerdown', (e) => {
    e.preventDefault();  // no text selection while dragging
    document.body.classList.add('resizing');
    startX = e.clientX; startW = $('files').getBoundingClientRect().width;
    sp.setPointerCapture(e.pointerId); sp.classList.add('drag');
    sp.addEventListener('pointermove', move);
  });
  const stop = () => { sp.classList.remove('drag'); document.body.classList.remove('resizing'); sp.removeEventListener('pointermove', move); };
  sp.addEventListener('pointerup', stop);
  sp.addEventListener('pointercancel', stop);
  sp.addEventListener('dblclick', () => { document.documentElement.style.removeProperty('--list-w'); onResize(); });
}

function init() {
  list.el = $('list'); list.spacer = $('listSpacer');
  code.el = $('code'); code.spacer = $('codeSpacer');
  measureChar();
  buildHeatColours();
  paintBrand();
  paintRamp($('legendRamp'));
  paintRamp($('legendRampFiles'));
  paintRamp($('welcomeRamp'));

  const pick = () => send({ type: 'pickFolder' });
  $('btnOpen').addEventListener('click', pick);
  $('btnOpenBig').addEventListener('click', pick);
  $('btnAudit').addEventListener('click', () => (S.view === 'audit' ? leaveAudit() : requestAudit(true)));
  $('btnSnap').addEventListener('click', snapshot);
  $('btnHelp').addEventListener('click', () => $('help').classList.toggle('show'));
  $('help').addEventListener('click', () => $('help').classList.remove('show'));
  $('tabCode').addEventListener('click', () => showView('code'));
  $('tabAudit').addEventListener('click', () => (S.audit && !S.auditStale ? showView('audit') : requestAudit(false)));
  $('btnAuditRefresh').addEventListener('click', requestAudit);
  $('btnAuditCap').addEventListener('click', () => {
    S.auditCap = !S.auditCap;
    $('btnAuditCap').setAttribute('aria-pressed', S.auditCap ? 'true' : 'false');
    if (S.project) requestAudit();
  });
  $('btnAuditStale').addEventListener('click', requestAudit);
  $('btnPrevHot').addEventListener('click', () => jumpHot(-1));
  $('scaleProject').addEventListener('click', () => setScaleMode('project'));
  $('scaleFile').addEventListener('click', () => setScaleMode('file'));
  $('btnNextHot').addEventListener('click', () => jumpHot(1));

  const setSort = (mode) => {
    if (S.sort === mode) return;
    S.sort = mode;
    $('sortHeat').setAttribute('aria-pressed', mode === 'heat' ? 'true' : 'false');
    $('sortPath').setAttribute('aria-pressed', mode === 'path' ? 'true' : 'false');
    refreshList();
    if (S.cursor >= 0) moveCursor(S.cursor); else list.el.scrollTop = 0;
  };
  $('scope').addEventListener('change', (e) => setScope(e.target.value));
  $('sortHeat').addEventListener('click', () => setSort('heat'));
  const setRank = (rank) => {
    if (S.rank === rank) return;
    S.rank = rank;
    $('rankTotal').setAttribute('aria-pressed', rank === 'total' ? 'true' : 'false');
    $('rankDensity').setAttribute('aria-pressed', rank === 'density' ? 'true' : 'false');
    if (!S.project) return;
    refreshList();
    if (S.cursor >= 0) moveCursor(S.cursor); else list.el.scrollTop = 0;
  };
  $('rankTotal').addEventListener('click', () => setRank('total'));
  $('rankDensity').addEventListener('click', () => setRank('density'));
  $('sortPath').addEventListener('click', () => setSort('path'));

  $('filter').addEventListener('input', (e) => {
    S.filter = e.target.value;
    S.cursorPath = '';
    refreshList();
    list.el.scrollTop = 0;
    renderList(false);
  });

  list.el.addEventListener('scroll', () => renderList(false), { passive: true });
  list.el.addEventListener('click', (e) => {
    const row = e.target.closest('.row');
    if (!row || row._v.idx < 0) return;
    S.cursor = row._v.idx;
    S.cursorPath = row._v.f.path;
    openPath(row._v.f.path, 0);
  });
  // Keyboard focus only: a click must not move the rows under the pointer.
  list.el.addEventListener('focus', () => {
    if (S.cursor < 0 && S.visible.length && list.el.matches(':focus-visible')) {
      moveCursor(Math.floor(list.el.scrollTop / list.rowH), false);
    }
  });

  code.el.addEventListener('scroll', onCodeScroll, { passive: true });
  initFindYourWay();
  initMap();
  initHotspots();
  code.el.addEventListener('mouseover', (e) => {
    const row = e.target.closest('.cl');
    if (!row || !S.code || row._v.idx < 0) return;
    const i = row._v.idx;
    $('status').textContent = 'Line ' + fmtInt(i + 1) + '  \u00b7  heat ' + fmt2(S.code.cv[i]) + '  \u00b7  ' + pct(S.code.heat[i]) + ' of ' + scaleWord();
    if (S.code.cv[i] > 0 && S.mark < 0) requestWhy(i, false);
  });
  code.el.addEventListener('click', (e) => {
    const row = e.target.closest('.cl');
    if (!row || !S.code || row._v.idx < 0) return;
    S.mark = row._v.idx;
    renderCode(false);
    requestWhy(S.mark, true);
  });

  const ov = $('overview');
  ov.addEventListener('pointerdown', (e) => {
    ov.setPointerCapture(e.pointerId);
    overviewJump(e);
    const move = (m) => overviewJump(m);
    ov.addEventListener('pointermove', move);
    const up = () => { ov.removeEventListener('pointermove', move); ov.removeEventListener('pointerup', up); };
    ov.addEventListener('pointerup', up);
  });

  $('auditBody').addEventListener('click', (e) => {
    const tr = e.target.closest('tr.item');
    if (tr) auditActivate(Number(tr.dataset.index));
  });

  document.addEventListener('keydown', onKey);
  window.addEventListener('resize', onResize);
  if (window.ResizeObserver) new ResizeObserver(onResize).observe($('view'));
  if (window.matchMedia) {
    const mq = window.matchMedia('(prefers-color-scheme: dark)');
    if (mq.addEventListener) mq.addEventListener('change', applyTheme);
  }
  initSplitter();
  renderHeader();
  renderList(true);
  renderCode(true);
  renderAudit();

  setTimeout(endConnecting, CONNECT_GRACE_MS);
  connect(0);
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', init, { once: true });
else init();
