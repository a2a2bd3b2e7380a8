// Starts varnholt-lsp for every file and paints its varnholt/lineHeat
// notification as whole-line backgrounds, in eight steps of heat.
'use strict';
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

const STEPS = 8;
let client;
const heatByUri = new Map();  // uri -> 0..1 per line, the latest the server sent

const decorations = Array.from({ length: STEPS }, (_, i) =>
  vscode.window.createTextEditorDecorationType({
    isWholeLine: true,
    backgroundColor: `rgba(255, 140, 0, ${(0.05 + (0.4 * (i + 1)) / STEPS).toFixed(3)})`,
    overviewRulerColor: i >= STEPS - 2 ? 'rgba(255, 140, 0, 0.8)' : undefined,
  }));

function paint(editor) {
  const heat = heatByUri.get(editor.document.uri.toString()) || [];
  const ranges = decorations.map(() => []);
  const lines = Math.min(heat.length, editor.document.lineCount);
  for (let i = 0; i < lines; i++) {
    const step = Math.round(heat[i] * STEPS);
    if (step > 0) ranges[step - 1].push(new vscode.Range(i, 0, i, 0));
  }
  decorations.forEach((d, i) => editor.setDecorations(d, ranges[i]));
}

function settings() {
  const c = vscode.workspace.getConfiguration('varnholt');
  const keys = ['diagnostics', 'threshold', 'severity', 'codeLens', 'inlayHints', 'lineHeat',
    'exclude', 'maxFileBytes', 'scope'];
  return Object.fromEntries(keys.map((k) => [k, c.get(k)]));
}

function activate(context) {
  const command = vscode.workspace.getConfiguration('varnholt').get('serverPath') || 'varnholt-lsp';
  client = new LanguageClient('varnholt', 'Varnholt', { command }, {
    documentSelector: [{ scheme: 'file' }],
    initializationOptions: settings(),
  });
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration((e) => {
      if (e.affectsConfiguration('varnholt') && client) {
        client.sendNotification('workspace/didChangeConfiguration', { settings: { varnholt: settings() } });
      }
    }),
    vscode.window.onDidChangeVisibleTextEditors((editors) => editors.forEach(paint)),
    vscode.workspace.onDidCloseTextDocument((doc) => heatByUri.delete(doc.uri.toString())),
    ...decorations);
  client.start().then(() => {
    client.onNotification('varnholt/lineHeat', ({ uri, heat }) => {
      heatByUri.set(uri, heat);
      for (const editor of vscode.window.visibleTextEditors) {
        if (editor.document.uri.toString() === uri) paint(editor);
      }
    });
  });
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
