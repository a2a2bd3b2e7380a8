// ---------------------------------------------------------------- why panel
// The native side explains one line on request; hovering asks after a short
// rest so that sweeping over the code does not flood it.
const why = { path: '', line: 0, timer: 0, data: null, closed: false };

function requestWhy(i, now) {
  const c = S.code;
  clearTimeout(why.timer);
  if (!c || i < 0 || i >= c.lines.length) return;
  const ask = () => {
    if (why.path === c.path && why.line === i + 1 && why.data) { why.closed = false; renderWhy(); return; }
    why.path = c.path; why.line = i + 1; why.data = null; why.closed = false;
    send({ type: 'explainLine', path_b64: textToBase64(c.path), line: String(i + 1) });
  };
  if (now) ask(); else why.timer = setTimeout(ask, 250);
}

function onSetExplain(d) {
  const path = utf8Lenient.decode(base64ToBytes(str(d.path_b64)));
  const line = Math.floor(num(d.line));
  if (path !== why.path || line !== why.line) return;  // an answer overtaken by another request
  why.data = d.explanation && typeof d.explanation === 'object' ? d.explanation : {};
  renderWhy();
}

function whyJump(line) {
  const c = S.code;
  if (!c || line < 1 || line > c.lines.length) return;
  S.mark = line - 1;
  scrollToLine(S.mark, true);
  renderCode(false);
  flashMark();
  requestWhy(S.mark, true);
}

function renderWhy() {
  const el = $('why'), e = why.data;
  const show = !!(e && S.code && S.code.path === why.path && !why.closed);
  el.classList.toggle('show', show);
  if (!show) return;
  el.textContent = '';
  const head = document.createElement('div');
  head.className = 'why-head';
  const title = document.createElement('b');
  title.textContent = 'Why line ' + why.line + ' \u00b7 heat ' + fmt2(num(e.heat));
  const close = document.createElement('button');
  close.className = 'why-close'; close.title = 'Close'; close.textContent = '\u00d7';
  close.addEventListener('click', () => { why.closed = true; renderWhy(); });
  head.append(title, close);
  el.appendChild(head);
  const note = (text) => { const n = document.createElement('div'); n.className = 'why-note'; n.textContent = text; el.appendChild(n); };
  const changed = lineHistoryText(why.line - 1);
  if (changed) note(changed + '.');
  if (e.line === undefined) { note('This line cannot be explained (the file has changed or left the project).'); return; }
  if (!e.scored) { note('Not scored: ' + (e.notScoredText ? str(e.notScoredText) : str(e.notScoredBecause) + ' line') + '.'); return; }
  const reasons = Array.isArray(e.reasons) ? e.reasons.slice(0, 5) : [];
  if (!reasons.length) { note('Nothing makes this line hot.'); return; }
  const ol = document.createElement('ol');
  for (const r of reasons) {
    const li = document.createElement('li');
    li.append(str(r && r.text));
    const f = num(r && r.factor);
    if (f > 0) { const x = document.createElement('span'); x.className = 'why-f'; x.textContent = '\u00d7' + f.toFixed(2); li.appendChild(x); }
    for (const n of Array.isArray(r && r.lines) ? r.lines : []) {
      const a = document.createElement('button');
      a.className = 'why-link'; a.textContent = 'line ' + fmtInt(Math.floor(num(n))); a.title = 'Jump to this hot line';
      a.addEventListener('click', () => whyJump(Math.floor(num(n))));
      li.appendChild(a);
    }
    ol.appendChild(li);
  }
  el.appendChild(ol);
}

function onSetAuditReasons(d) {
  const a = S.audit, reasons = Array.isArray(d.reasons) ? d.reasons : [];
  if (!a) return;
  for (const it of a.items) it.reason = str(reasons[it.src]);
  renderAudit();
}
