// One scripted client session against varnholt-lsp over vscode-jsonrpc's
// framing: lifecycle, cancel, and malformed input that must be survived.
// Usage: node session_test.js PATH/TO/varnholt-lsp
'use strict';
const assert = require('node:assert/strict');
const cp = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const rpc = require('vscode-jsonrpc/node');

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'varnholt-lsp-'));
const hotLine = '  if (a && b || a > b && !a) { return a ? b : a; }';
// One hot line among more plain ones than the audit lists.
fs.writeFileSync(path.join(dir, 'hot.c'), `{\n${hotLine}\n\n}\n`);
fs.writeFileSync(path.join(dir, 'calm.c'), Array.from({ length: 40 }, (_, i) => `int v${i} = ${i};\n`).join(''));
const uri = 'file://' + path.join(dir, 'hot.c');

const child = cp.spawn(process.argv[2], [], { stdio: ['pipe', 'pipe', 'pipe'] });
let stderr = '';
child.stderr.on('data', (d) => (stderr += d));
const writer = new rpc.StreamMessageWriter(child.stdin);
const reader = new rpc.StreamMessageReader(child.stdout);
const waiting = new Map();  // id -> resolve
const notes = [];
let noteWaiter = null;
reader.listen((m) => {
  if ('id' in m && !('method' in m) && waiting.has(m.id)) {
    waiting.get(m.id)(m);
    waiting.delete(m.id);
  } else if ('method' in m) {
    notes.push(m);
    if (noteWaiter) noteWaiter();
  }
});

let nextId = 1;
function request(method, params) {
  const id = nextId++;
  writer.write({ jsonrpc: '2.0', id, method, params });
  return new Promise((resolve) => waiting.set(id, resolve));
}
const notify = (method, params) => writer.write({ jsonrpc: '2.0', method, params });
const frame = (body) => `Content-Length: ${Buffer.byteLength(body)}\r\n\r\n${body}`;
const answer = (id) => new Promise((resolve) => waiting.set(id, resolve));
async function note(pred, what) {
  const deadline = Date.now() + 10000;
  for (;;) {
    const found = notes.find(pred);
    if (found) return found;
    assert.ok(Date.now() < deadline, `timed out waiting for ${what}; stderr: ${stderr}`);
    await new Promise((r) => { noteWaiter = r; setTimeout(r, 100); });
  }
}

(async () => {
  const init = await request('initialize', {
    processId: process.pid, rootUri: null, capabilities: { window: { workDoneProgress: true } },
    workspaceFolders: [{ uri: 'file://' + dir, name: 'p' }], initializationOptions: { inlayHints: true },
  });
  assert.equal(init.result.capabilities.textDocumentSync.change, 2);
  assert.equal(init.result.capabilities.positionEncoding, 'utf-16');
  notify('initialized', {});
  notify('textDocument/didOpen', { textDocument: { uri, languageId: 'c', version: 1, text: fs.readFileSync(path.join(dir, 'hot.c'), 'utf8') } });
  await note((m) => m.method === '$/progress' && m.params.value.kind === 'end', 'the end of the scan progress');
  const diags = await note((m) => m.method === 'textDocument/publishDiagnostics', 'diagnostics');
  assert.deepEqual(diags.params.diagnostics.map((d) => [d.range.start.line, d.severity, d.source]), [[1, 4, 'varnholt']]);
  const heat = await note((m) => m.method === 'varnholt/lineHeat', 'line heat');
  assert.equal(heat.params.heat.length, 5);
  assert.ok(heat.params.heat[1] > 0 && heat.params.heat[0] < heat.params.heat[1]);

  // An inlay hint sits at the end of the hot line, in UTF-16 units.
  const hints = await request('textDocument/inlayHint', { textDocument: { uri }, range: { start: { line: 0, character: 0 }, end: { line: 9, character: 0 } } });
  assert.deepEqual(hints.result.map((h) => [h.position.line, h.position.character]), [[1, hotLine.length]]);

  // A request and its cancel in one write: the server sees both before answering.
  const hover = JSON.stringify({ jsonrpc: '2.0', id: 'c1', method: 'textDocument/hover', params: { textDocument: { uri }, position: { line: 1, character: 0 } } });
  const cancelled = answer('c1');
  child.stdin.write(frame(hover) + frame(JSON.stringify({ jsonrpc: '2.0', method: '$/cancelRequest', params: { id: 'c1' } })));
  assert.equal((await cancelled).error.code, -32800);

  // Malformed input: each is answered or logged, and the session goes on.
  const bad = answer(null);
  child.stdin.write('Content-Length: many\r\n\r\n{}' + frame('{"jsonrpc":"2.0","id":'));
  assert.equal((await bad).error.code, -32700);
  assert.equal((await request('no/such/method', {})).error.code, -32601);
  notify('no/such/notification', {});
  notify('textDocument/didChange', { textDocument: { uri: 'file:///not/open.c', version: 2 }, contentChanges: [{ text: 'x' }] });
  await note((m) => m.method === 'window/logMessage' && /not open/.test(m.params.message), 'a log line for the unopened document');
  assert.equal((await request('textDocument/hover', { textDocument: { uri }, position: 'x' })).error.code, -32602);

  // An edit on a line that had no heat makes it hot, before any save.
  const before = notes.length;
  notify('textDocument/didChange', { textDocument: { uri, version: 2 }, contentChanges: [{ range: { start: { line: 2, character: 0 }, end: { line: 2, character: 0 } }, text: hotLine }] });
  const after = await note((m, i) => i >= before && m.method === 'textDocument/publishDiagnostics', 'diagnostics after the edit');
  assert.equal(after.params.version, 2);
  assert.deepEqual(after.params.diagnostics.map((d) => d.range.start.line), [1, 2]);
  const hover2 = await request('textDocument/hover', { textDocument: { uri }, position: { line: 2, character: 0 } });
  assert.match(hover2.result.contents.value, /^\*\*Varnholt heat \d/);

  assert.equal((await request('shutdown', null)).result, null);
  assert.equal((await request('textDocument/hover', { textDocument: { uri }, position: { line: 1, character: 0 } })).error.code, -32600);
  const exited = new Promise((resolve) => child.on('exit', resolve));
  notify('exit');
  assert.equal(await exited, 0);
  fs.rmSync(dir, { recursive: true, force: true });
  console.log('PASS');
})().catch((e) => {
  console.error('FAIL:', e, '\nserver stderr:', stderr);
  child.kill();
  process.exit(1);
});
