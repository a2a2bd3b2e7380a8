// ---------------------------------------------------------------- host link
let host = null;
function findHost() {
  const h = window.chrome && window.chrome.webview;
  return h && typeof h.addEventListener === 'function' && typeof h.postMessage === 'function' ? h : null;
}
function send(msg) {
  if (!host || typeof host.postMessage !== 'function') return;
  try { host.postMessage(msg); } catch (err) { console.error('Varnholt: could not post', err); }
}

// ---------------------------------------------------------------- run state
const countText = (n) => numFmt.format(Math.max(0, Math.round(num(n))));

// Shown in the footer and, before any project, on the welcome card; the
// project on screen stays (greyed while its folder is gone).
function onSetProgress(d) {
  let text = '';
  if (d.state === 'busy') {
    // A run for a folder not on screen yet names it: without a project the card shows it.
    const folderName = str(d.folderName) || (S.run && S.run.busy ? S.run.folderName : '');
    S.run = { busy: true, folderName };
    text = 'Analysing ' + (folderName ? folderName + ' ' : '') + '\u2026' +
      (num(d.total) > 0 ? ' ' + countText(d.done) + ' of ' + countText(d.total) + ' files' : '');
    $('busyName').textContent = folderName ? 'Analysing ' + folderName : 'Analysing the folder';
    $('busyCount').textContent = num(d.total) > 0 ? countText(d.done) + ' of ' + countText(d.total) + ' files' : 'Counting the files\u2026';
  } else if (d.state === 'failed') {
    text = str(d.text) || 'Could not read the folder';
  } else if (d.state === 'missing') {
    text = str(d.text) || 'Folder not found';
  } else if (d.state !== 'idle') {
    return;
  }
  if (d.state !== 'busy') S.run = { busy: false, folderName: '' };
  endConnecting();
  document.body.classList.toggle('starting', !!(S.run.busy && S.run.folderName));
  if (!S.project) $('status').textContent = statusNow();
  $('runState').textContent = text;
  $('runState').title = text;
  $('welcomeNote').textContent = text;
  if (d.state === 'missing') document.body.classList.add('root-missing');
  else if (d.state === 'idle') document.body.classList.remove('root-missing');
}

function onSetSnapshot(d) {
  if (d.ok === true) setStatus('Snapshot saved to ' + str(d.path));
  else setStatus(str(d.text) || 'Snapshot not saved');
}

// The first frame shows neither the welcome card nor "Ready": the program says
// at once whether it is analysing a folder, and nothing when it is not.
function endConnecting() {
  if (!document.body.classList.contains('connecting')) return;
  document.body.classList.remove('connecting');
  if (!S.project && !(S.run && S.run.busy)) $('status').textContent = 'Ready';
}

// ---------------------------------------------------------------- messages
function onMessage(ev) {
  try {
    let d = ev ? ev.data : undefined;
    if (typeof d === 'string') { try { d = JSON.parse(d); } catch (err) { return; } }
    if (!d || typeof d !== 'object') return;
    if (d.type === 'setProject') endConnecting();
    switch (d.type) {
      case 'setProject': onSetProject(d); break;
      case 'updateProject': onUpdateProject(d); break;
      case 'setPendingProject': endConnecting(); onSetPendingProject(d); break;
      case 'fillPendingProject': onFillPendingProject(d); break;
      case 'dropPendingProject': onDropPendingProject(); break;
      case 'setCode': onSetCode(d); break;
      case 'setAudit': onSetAudit(d); break;
      case 'setProgress': onSetProgress(d); break;
      case 'setSnapshot': onSetSnapshot(d); break;
      case 'setFileLines': onSetFileLines(d); break;
      case 'setScopeInfo': onSetScopeInfo(d); break;
      case 'setExplain': onSetExplain(d); break;
      case 'setAuditReasons': onSetAuditReasons(d); break;
      case 'setHistory': onSetHistory(d); break;
      case 'setLineHistory': onSetLineHistory(d); break;
      default: break;
    }
  } catch (err) {
    console.error('Varnholt: message ignored', err);
  }
}

// The host bridge is normally there before the page runs; give a late one a few seconds.
const CONNECT_GRACE_MS = 400;
function connect(attempt) {
  host = findHost();
  if (host) {
    host.addEventListener('message', onMessage);
    send({ type: 'uiReady' });
  } else if (attempt < 50) {
    setTimeout(() => connect(attempt + 1), 100);
  }
}
