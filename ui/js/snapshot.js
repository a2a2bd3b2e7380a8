// ---------------------------------------------------------------- snapshot
function snapshotName() {
  const p = S.project;
  let view = 'files';
  if (S.view === 'audit') view = 'audit';
  else if (S.view === 'map') view = 'overview';
  else if (S.view === 'hotspots') view = 'hotspots';
  else if (S.code) view = 'code_' + lastComponent(S.code.path);
  const raw = 'Varnholt_' + (p ? displayName() : 'project') + '_' + view;
  // Keep the name valid on every file system we save to.
  return raw.replace(/[\u0000-\u001f<>:"/\\|?*\u007f]+/g, '_').replace(/__+/g, '_').replace(/[. ]+$/, '').slice(0, 150) + '.png';
}

function snapshot() {
  if (!S.project) return;
  let dataUrl;
  try { dataUrl = drawSnapshot().toDataURL('image/png'); } catch (err) { console.error(err); setStatus('Snapshot failed'); return; }
  const comma = dataUrl.indexOf(',');
  const b64 = comma >= 0 ? dataUrl.slice(comma + 1) : '';
  if (!b64) { setStatus('Snapshot failed'); return; }
  send({ type: 'savePng', png_b64: b64, name_b64: textToBase64(snapshotName()) });
  setStatus('Snapshot ready \u2014 choose where to save it');
}

function cssVar(name) { return getComputedStyle(document.documentElement).getPropertyValue(name).trim(); }

function fitText(ctx, text, maxW) {
  if (maxW <= 0) return '';
  if (ctx.measureText(text).width <= maxW) return text;
  let lo = 0, hi = text.length;
  while (lo < hi) { const mid = (lo + hi + 1) >> 1; if (ctx.measureText(text.slice(0, mid) + '\u2026').width <= maxW) lo = mid; else hi = mid - 1; }
  return text.slice(0, lo) + '\u2026';
}
function expandTabs(s) {
  if (s.indexOf('\t') < 0) return s;
  let out = '';
  for (const ch of s) out += ch === '\t' ? ' '.repeat(4 - (out.length % 4)) : ch;
  return out;
}

// Draws the visible window by hand: header, file list, and the code or audit pane.
function drawSnapshot() {
  // An audit snapshot grows downwards until every row fits.
  const grow = auditSnapshotGrowth();
  const W = document.documentElement.clientWidth, H = document.documentElement.clientHeight + grow;
  const dpr = Math.min(2, window.devicePixelRatio || 1);
  const canvas = document.createElement('canvas');
  canvas.width = Math.round(W * dpr); canvas.height = Math.round(H * dpr);
  const ctx = canvas.getContext('2d');
  ctx.scale(dpr, dpr);
  ctx.textBaseline = 'middle';
  const col = {
    bg: cssVar('--bg'), panel: cssVar('--panel'), panel2: cssVar('--panel-2'), border: cssVar('--border'),
    text: cssVar('--text'), muted: cssVar('--muted'), faint: cssVar('--faint'), accent: cssVar('--accent'),
    sel: cssVar('--sel'), codeBg: cssVar('--code-bg'), gutter: cssVar('--gutter-bg'), lineno: cssVar('--lineno'),
    track: cssVar('--track'),
  };
  const ui = (px, weight) => (weight || '') + ' ' + px + 'px ' + cssVar('--font-ui');
  const mono = (px) => px + 'px ' + cssVar('--font-mono');
  const rectOf = (el) => el.getBoundingClientRect();
  const tallRect = (el) => { const r = el.getBoundingClientRect(); return { left: r.left, right: r.right, top: r.top, width: r.width, height: r.height + grow, bottom: r.bottom + grow }; };
  const hline = (x0, x1, y) => { ctx.fillStyle = col.border; ctx.fillRect(x0, y, x1 - x0, 1); };
  const p = S.project;

  ctx.fillStyle = col.bg; ctx.fillRect(0, 0, W, H);

  // header
  const hr = rectOf(document.querySelector('header'));
  ctx.fillStyle = col.panel; ctx.fillRect(0, 0, W, hr.height);
  hline(0, W, hr.height - 1);
  [0.15, 0.55, 1, 0.7, 0.3].forEach((h, i) => { ctx.fillStyle = heatFill(h); ctx.fillRect(14, 15 + i * 3.6, Math.max(4, 18 * h), 3); });
  ctx.fillStyle = col.text; ctx.font = ui(13, '650'); ctx.fillText('Varnholt', 40, hr.height / 2);
  let x = 40 + ctx.measureText('Varnholt').width + 16;
  ctx.font = ui(14, '600'); ctx.fillText(fitText(ctx, displayName(), W * 0.35), x, hr.height / 2);
  x += Math.min(ctx.measureText(displayName()).width, W * 0.35) + 12;
  ctx.font = ui(13); ctx.fillStyle = col.muted; ctx.fillText($('projStats').textContent, x, hr.height / 2);
  const stamp = new Date();
  const when = stamp.getFullYear() + '-' + String(stamp.getMonth() + 1).padStart(2, '0') + '-' + String(stamp.getDate()).padStart(2, '0') +
    ' ' + String(stamp.getHours()).padStart(2, '0') + ':' + String(stamp.getMinutes()).padStart(2, '0');
  ctx.textAlign = 'right'; ctx.fillText(when, W - 14, hr.height / 2); ctx.textAlign = 'left';

  // file list
  const fr = tallRect($('files')), lr = tallRect(list.el), mr = rectOf(document.querySelector('.list-meta'));
  ctx.fillStyle = col.panel; ctx.fillRect(fr.left, fr.top, fr.width, fr.height);
  ctx.fillStyle = col.border; ctx.fillRect(fr.right - 1, fr.top, 1, fr.height);
  ctx.fillStyle = col.panel2; ctx.fillRect(fr.left, fr.top, fr.width - 1, mr.top - fr.top);
  hline(fr.left, fr.right - 1, mr.top - 1);
  ctx.font = ui(12); ctx.fillStyle = col.muted;
  const sortLabel = 'Sorted by ' + (S.sort === 'heat' ? (S.rank === 'density' ? 'heat per line' : 'heat') : 'path') + (S.filter ? '  \u00b7  filter \u201c' + S.filter + '\u201d' : '');
  ctx.fillText(fitText(ctx, sortLabel, fr.width - 20), fr.left + 10, (fr.top + mr.top) / 2);
  ctx.font = ui(11);
  ctx.fillText(fitText(ctx, p.root, fr.width * 0.6), fr.left + 10, (mr.top + mr.bottom) / 2);
  ctx.textAlign = 'right'; ctx.fillText($('listCount').textContent, fr.right - 11, (mr.top + mr.bottom) / 2); ctx.textAlign = 'left';
  hline(fr.left, fr.right - 1, mr.bottom - 1);
  ctx.save();
  ctx.beginPath(); ctx.rect(lr.left, lr.top, lr.width, lr.height); ctx.clip();
  const rowH = list.rowH, first = Math.floor(list.el.scrollTop / rowH);
  for (let i = first; i < S.visible.length; i++) {
    const y = lr.top + i * rowH - list.el.scrollTop;
    if (y > lr.bottom) break;
    const f = p.files[S.visible[i]];
    if (f.path === S.selected) {
      ctx.fillStyle = col.sel; ctx.fillRect(lr.left, y, lr.width, rowH);
      ctx.fillStyle = col.accent; ctx.fillRect(lr.left, y, 2, rowH);
    }
    const cy = y + rowH / 2;
    ctx.fillStyle = col.track; ctx.fillRect(lr.left + 12, cy - 4, 42, 8);
    const fh = listHeat(f), figure = listFigure(f);
    if (fh > 0) { ctx.fillStyle = heatFill(fh); ctx.fillRect(lr.left + 12, cy - 4, Math.max(3, 42 * fh), 8); }
    ctx.font = mono(11.5); ctx.fillStyle = col.muted; ctx.textAlign = 'right';
    ctx.fillText(figure, lr.right - 12, cy); ctx.textAlign = 'left';
    const cvW = Math.max(44, ctx.measureText(figure).width) + 20;
    let tx = lr.left + 63, room = lr.right - cvW - tx;
    ctx.font = ui(13); ctx.fillStyle = col.muted;
    const rel = relOf(f), cut = lastSep(rel) + 1;
    ctx.font = ui(13, '560');
    const nameW = ctx.measureText(rel.slice(cut)).width;
    ctx.font = ui(13);
    const d = fitText(ctx, rel.slice(0, cut), Math.max(0, room - nameW));
    ctx.fillText(d, tx, cy); tx += ctx.measureText(d).width;
    ctx.font = ui(13, '560'); ctx.fillStyle = col.text; ctx.fillText(rel.slice(cut), tx, cy);
  }
  ctx.restore();

  // right pane
  const vr = tallRect($('view')), tr = rectOf(document.querySelector('.tabs'));
  ctx.fillStyle = col.codeBg; ctx.fillRect(vr.left, vr.top, vr.width, vr.height);
  ctx.fillStyle = col.panel2; ctx.fillRect(vr.left, tr.top, vr.width, tr.height);
  hline(vr.left, vr.right, tr.bottom - 1);
  ctx.font = ui(13, '600'); ctx.fillStyle = col.text;
  const c = S.code;
  const title = S.view === 'hotspots' ? 'Hotspots \u2014 ' + $('hotHead').textContent : S.view === 'audit' ? 'Audit \u2014 hottest lines' : S.view === 'map' ? 'Overview \u2014 ' + $('mapCrumbs').textContent
    : c ? relPath(c.path) : 'No file selected';
  ctx.fillText(fitText(ctx, title, vr.width * 0.6), vr.left + 16, (tr.top + tr.bottom) / 2);
  ctx.font = ui(12); ctx.fillStyle = col.muted; ctx.textAlign = 'right';
  const info = S.view === 'code' && c ? $('codeStats').textContent : '';  // the audit's hint sits in its pane
  ctx.fillText(fitText(ctx, info, vr.width * 0.35), vr.right - 14, (tr.top + tr.bottom) / 2);
  ctx.textAlign = 'left';

  if (S.view === 'code' && c) {
    const cr = rectOf(code.el), lineH = code.lineH, st = codeTop(), sl = code.el.scrollLeft;
    ctx.save();
    ctx.beginPath(); ctx.rect(cr.left, cr.top, cr.width, cr.height); ctx.clip();
    const firstLine = Math.floor(st / lineH);
    ctx.font = mono(code.fontPx);
    for (let i = firstLine; i < c.lines.length; i++) {
      const y = cr.top + i * lineH - st;
      if (y > cr.bottom) break;
      const h = c.heat[i], cy = y + lineH / 2;
      if (h > 0) { ctx.fillStyle = heatTint(h); ctx.fillRect(cr.left, y, cr.width, lineH); }
      ctx.fillStyle = col.text;
      ctx.fillText(expandTabs(c.lines[i].slice(0, 1000)), cr.left + code.noW + 3 + 12 - sl, cy);
      if (i === S.mark) { ctx.strokeStyle = col.accent; ctx.lineWidth = 1.5; ctx.strokeRect(cr.left + 0.75, y + 0.75, cr.width - 1.5, lineH - 1.5); }
      ctx.fillStyle = i === S.mark ? col.accent : col.gutter; ctx.fillRect(cr.left, y, code.noW, lineH);
      if (h > 0) { ctx.fillStyle = heatFill(h); ctx.fillRect(cr.left + code.noW, y, 3, lineH); }
      ctx.fillStyle = i === S.mark ? cssVar('--accent-text') : col.lineno; ctx.textAlign = 'right';
      ctx.fillText(String(i + 1), cr.left + code.noW - 10, cy); ctx.textAlign = 'left';
    }
    ctx.restore();
    const or = rectOf($('overview'));
    ctx.fillStyle = col.gutter; ctx.fillRect(or.left, or.top, or.width, or.height);
    ctx.fillStyle = col.border; ctx.fillRect(or.left, or.top, 1, or.height);
    ctx.drawImage($('ovCanvas'), or.left + 1, or.top, or.width - 1, or.height);
  } else if (S.view === 'hotspots' && hot.layout) {
    const hr = rectOf($('hotCanvas'));
    ctx.drawImage($('hotCanvas'), hr.left, hr.top, hr.width, hr.height);
  } else if (S.view === 'map' && map.as === 'map') {
    const mr = rectOf($('mapCanvas'));
    ctx.drawImage($('mapCanvas'), mr.left, mr.top, mr.width, mr.height);
  } else if (S.view === 'audit' && S.audit && S.audit.items.length) {
    drawAuditSnapshot(ctx, vr, rectOf($('auditPane')).top, { col, ui, mono, hline });
  } else {
    ctx.font = ui(14); ctx.fillStyle = col.muted; ctx.textAlign = 'center';
    const msg = S.view === 'hotspots' ? historyText() || 'No history' : S.view === 'audit' ? 'No audit yet' : S.view === 'map' ? 'Folder table: see the window' : 'No file selected';
    ctx.fillText(msg, (vr.left + vr.right) / 2, (tr.bottom + vr.bottom) / 2);
    ctx.textAlign = 'left';
  }

  // footer with the scale and its legends, as the window shows them
  const fo = rectOf(document.querySelector('footer'));
  ctx.fillStyle = col.panel; ctx.fillRect(0, fo.top + grow, W, fo.height);
  hline(0, W, fo.top + grow);
  drawLegendSnapshot(ctx, grow, { col, ui });
  return canvas;
}

const AUDIT_SNAP = { head: 64, rowH: 31, foot: 12 };  // hint and column heads, one row, bottom margin

function auditSnapshotGrowth() {
  if (S.view !== 'audit' || !S.audit || !S.audit.items.length) return 0;
  const need = $('auditPane').getBoundingClientRect().top + AUDIT_SNAP.head + S.audit.items.length * AUDIT_SNAP.rowH + AUDIT_SNAP.foot;
  return Math.max(0, Math.ceil(need - $('view').getBoundingClientRect().bottom));
}

// Every audit row with its file, folder, line, heat, share and preview, like the table.
function drawAuditSnapshot(ctx, vr, paneTop, { col, ui, mono, hline }) {
  const a = S.audit, colX = [vr.left + 12, vr.left + 52, vr.left + 52 + (vr.width - 52) * 0.26, 0, 0, 0];
  colX[3] = colX[2] + 64; colX[4] = colX[3] + 124; colX[5] = colX[4] + 64;
  const top = Math.max(...a.items.map((it) => it.cv), 0);
  let y = paneTop + 8;
  ctx.font = ui(12); ctx.fillStyle = col.muted;
  ctx.fillText(fitText(ctx, a.hint, vr.width - 32), vr.left + 16, y + 10); y += 28;
  ctx.fillStyle = col.panel2; ctx.fillRect(vr.left, y, vr.width, 28);
  ctx.font = ui(11.5, '600'); ctx.fillStyle = col.muted;
  ['#', 'File', 'Line', 'Heat', 'Share', 'Preview'].forEach((t, k) => ctx.fillText(t, colX[k] + 4, y + 14));
  hline(vr.left, vr.right, y + 27); y += 28;
  const rowH = AUDIT_SNAP.rowH;
  a.items.forEach((it, k) => {
    const cy = y + rowH / 2;
    ctx.font = ui(12); ctx.fillStyle = col.faint; ctx.fillText(String(k + 1), colX[0] + 4, cy);
    const rel = relPath(it.path), folder = rel.slice(0, lastSep(rel) + 1), room = colX[2] - colX[1] - 10;
    ctx.font = ui(13, '600'); ctx.fillStyle = col.text;
    const name = fitText(ctx, it.file, room);
    ctx.fillText(name, colX[1] + 4, cy);
    const nameW = ctx.measureText(name).width + 8;
    ctx.font = ui(12); ctx.fillStyle = col.muted;
    if (folder && room - nameW > 12) ctx.fillText(fitText(ctx, folder, room - nameW), colX[1] + 4 + nameW, cy);
    ctx.font = mono(12); ctx.fillStyle = col.text;
    ctx.fillText(String(it.line || '\u2013'), colX[2] + 4, cy);
    const rel01 = top > 0 ? clamp01(it.cv / top) : 0;
    ctx.fillStyle = col.track; ctx.fillRect(colX[3] + 4, cy - 4, 48, 8);
    if (rel01 > 0) { ctx.fillStyle = heatFill(rel01); ctx.fillRect(colX[3] + 4, cy - 4, Math.max(3, 48 * rel01), 8); }
    ctx.fillStyle = col.text; ctx.fillText(fmt2(it.cv), colX[3] + 60, cy);
    ctx.fillStyle = col.muted; ctx.fillText(pct(it.heat01), colX[4] + 4, cy);
    ctx.fillStyle = col.text; ctx.fillText(fitText(ctx, expandTabs(it.preview.replace(/^\s+/, '')), vr.right - colX[5] - 12), colX[5] + 4, cy);
    hline(vr.left, vr.right, y + rowH - 1);
    y += rowH;
  });
}

// The scale switch and both legends at their places in the footer, dy lower.
function drawLegendSnapshot(ctx, dy, { col, ui }) {
  const at = (el) => el.getBoundingClientRect();
  ctx.font = ui(11.5); ctx.fillStyle = col.muted;
  const sw = at(document.querySelector('.scale-seg'));
  ctx.fillText('Scale: ' + (scale.mode === 'file' ? 'per file' : 'project'), sw.left, sw.top + dy + sw.height / 2);
  for (const item of document.querySelectorAll('.legend-item')) {
    if (item.hidden) continue;  // a legend standing in for another
    const label = at(item.firstElementChild), ramp = item.querySelector('canvas'), r = at(ramp);
    ctx.font = ui(12); ctx.fillStyle = col.muted;
    ctx.fillText(item.firstElementChild.textContent, label.left, label.top + dy + label.height / 2);
    ctx.drawImage(ramp, r.left, r.top + dy, r.width, r.height);
    ctx.font = ui(10);
    for (const tick of item.querySelectorAll('.legend-ticks span')) {
      const t = at(tick);
      ctx.fillText(tick.textContent, t.left, t.top + dy + t.height / 2);
    }
  }
}
