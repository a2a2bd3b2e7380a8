// ---------------------------------------------------------------- views
function showView(v) {
  const was = S.view;
  S.view = v === 'audit' || v === 'map' || v === 'hotspots' ? v : 'code';
  $('tabCode').setAttribute('aria-selected', S.view === 'code' ? 'true' : 'false');
  $('tabAudit').setAttribute('aria-selected', S.view === 'audit' ? 'true' : 'false');
  $('codePane').classList.toggle('active', S.view === 'code');
  $('auditPane').classList.toggle('active', S.view === 'audit');
  $('tabMap').setAttribute('aria-selected', S.view === 'map' ? 'true' : 'false');
  $('mapPane').classList.toggle('active', S.view === 'map');
  if (S.view === 'map') drawMap();
  $('tabHot').setAttribute('aria-selected', S.view === 'hotspots' ? 'true' : 'false');
  $('hotPane').classList.toggle('active', S.view === 'hotspots');
  if (S.view === 'hotspots') drawHotspots();
  $('btnAudit').classList.toggle('on', S.view === 'audit');
  renderCodeInfo();
  if (S.view === 'code') { measure(); renderCode(false); drawOverview(); }
  if (S.view !== was) setStatus(statusNow());
  if (S.view !== 'audit') nav.focusAudit = false;
  else if (!S.audit) renderAudit();
}

let statusTimer = 0;
function setStatus(text) {
  const el = $('status');
  el.textContent = text;
  el.classList.add('flash');
  clearTimeout(statusTimer);
  statusTimer = setTimeout(() => el.classList.remove('flash'), 1200);
}
