// ---------------------------------------------------------------- state
const S = {
  project: null,          // { name, totalLOC, files[], rootLen, root }
  sort: 'heat',
  rank: 'total',          // 'total' or 'density', for the heat order and the list's bars
  filter: '',
  orders: { total: null, density: null, path: null },
  visible: new Int32Array(0),
  cursor: -1,             // index into visible
  cursorPath: '',
  selected: '',           // path last asked for or shown
  view: 'code',
  code: null,             // { path, lines[], heat, cv, fileCV, maxCols, hot[] }
  mark: -1,               // highlighted line index in the code view
  pendingJump: null,      // { path, line } waiting for its setCode
  opening: '',            // path asked for and not yet answered
  audit: null,            // { hint, items[] }
  auditLoading: false,
  auditStale: false,
  auditScope: 'code',     // scope of the audit last asked for
  auditCap: false,        // at most 3 lines per file
  scope: 'code',          // 'all', 'code' or 'nontest'; kept across projects
  run: null,              // { busy, folderName } of the analysis run
  scopeInfo: null,        // { folderName, cls: Map path -> 1 not code, 2 test or generated }
};

// ---------------------------------------------------------------- header
// The opened folder's own name when the host told it, else the project name.
function displayName() {
  const p = S.project;
  if (!p) return '';
  return (S.scopeInfo && S.scopeInfo.folderName) || p.name;
}

function renderHeader() {
  const p = S.project;
  document.body.classList.toggle('no-project', !p);
  $('projName').textContent = displayName();
  $('projName').title = p ? (p.root || displayName()) : '';
  $('projStats').textContent = p
    ? fmtInt(p.files.length) + (p.files.length === 1 ? ' file' : ' files') + '  \u00b7  ' + fmtInt(p.totalLOC) + (p.totalLOC === 1 ? ' line' : ' lines') +
      (p.pendingAt ? ' so far' : '')
    : '';
  // The audit comes with the run's project.
  $('btnAudit').disabled = !p || !!p.pendingAt;
  $('btnSnap').disabled = !p;
  document.title = p ? displayName() + ' \u2014 Varnholt' : 'Varnholt';
}
