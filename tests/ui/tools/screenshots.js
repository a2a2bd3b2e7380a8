'use strict';
// Renders the page with real data in light and dark and writes PNGs for a look:
//   node tests/ui/tools/screenshots.js [source-folder] [out-folder]
const fs = require('node:fs');
const path = require('node:path');
const h = require('../harness');

// A rough stand-in for the analysis: control flow, operators and nesting make a line hot.
function rawLineHeat(lines) {
  let depth = 0;
  return lines.map((line) => {
    const t = line.trim();
    if (t.startsWith('//') || t.startsWith('/*') || t.startsWith('*') || t.startsWith('#')) return 0;
    const code = line.replace(/"(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*'/g, '""').replace(/\/\/.*$/, '');
    const kw = (code.match(/\b(if|else|for|while|switch|case|return|try|catch|throw|new|const|class|template|auto)\b/g) || []).length;
    const ops = (code.match(/&&|\|\||->|::|[?!<>=+\-*/%]=?/g) || []).length;
    const v = code.trim() ? kw * 1.5 + ops * 0.4 + depth * 0.3 : 0;
    depth = Math.max(0, depth + (code.split('{').length - 1) - (code.split('}').length - 1));
    return Math.round(v * 100) / 100;
  });
}

function projectMessage(name, files, totalLOC) {
  const ref = h.percentileRef(files.map((f) => f.heatCV), 1);
  return {
    type: 'setProject', projectName: name, totalLOC,
    files: files.slice().sort((a, b) => Buffer.compare(Buffer.from(a.path), Buffer.from(b.path))).map((f) => ({
      path: f.path, name: f.path.split(/[\\/]/).pop(),
      heat01: Number(Math.min(1, Math.log1p(f.heatCV) / Math.log1p(ref)).toFixed(4)), heatCV: f.heatCV,
    })),
  };
}

// Reads a real source tree into the messages the host would send.
function projectFromTree(root, { exts = /\.(js|ts|cc|h|cpp|c|py)$/, limit = 400 } = {}) {
  const files = [];
  const walk = (dir) => {
    for (const ent of fs.readdirSync(dir, { withFileTypes: true }).sort((a, b) => (a.name < b.name ? -1 : 1))) {
      if (files.length >= limit) return;
      const p = path.join(dir, ent.name);
      if (ent.isDirectory()) walk(p);
      else if (exts.test(ent.name)) {
        const text = fs.readFileSync(p, 'utf8');
        const raw = rawLineHeat(text.split('\n'));
        files.push({ path: p, text, raw, heatCV: Number(raw.reduce((a, b) => a + b, 0).toFixed(2)) });
      }
    }
  };
  walk(root);
  const totalLOC = files.reduce((a, f) => a + f.text.split('\n').length, 0);
  const items = [];
  for (const f of files) {
    const lines = f.text.split('\n');
    f.raw.forEach((v, i) => items.push({
      path: f.path, file: path.basename(f.path), lineStart: i + 1, lineEnd: i + 1, cv: v,
      heat01: Number(Math.min(1, v / Math.max(f.heatCV, 1)).toFixed(4)), kind: 'line',
      preview: (lines[i] || '').replace(/\t/g, ' ').slice(0, 140),
    }));
  }
  items.sort((a, b) => b.cv - a.cv);
  return {
    files,
    project: projectMessage(path.basename(root), files, totalLOC),
    code: (f) => h.codeMessage(f.path, f.text, f.raw),
    audit: { type: 'setAudit', hint: 'Whole codebase \u00b7 Click a row to jump', items: items.slice(0, 30) },
  };
}

async function main() {
  const src = path.resolve(process.argv[2] || '/usr/src/googletest');
  const out = path.resolve(process.argv[3] || '/tmp/varnholt-shots');
  fs.mkdirSync(out, { recursive: true });
  const data = projectFromTree(src);
  const hottest = data.files.slice().sort((a, b) => b.heatCV - a.heatCV)[0];
  const browser = await h.launch();
  try {
    for (const scheme of ['light', 'dark']) {
      const { page, pageErrors } = await h.openPage(browser, { colorScheme: scheme });
      await page.screenshot({ path: path.join(out, `${scheme}-welcome.png`) });
      await h.deliver(page, data.project);
      await h.deliver(page, data.project);
      await page.click('#list .row:nth-child(3)');
      await h.deliver(page, data.code(hottest));
      for (let k = 0; k < 6; k++) await page.keyboard.press(']');
      await page.keyboard.press('Escape');
      await page.mouse.move(700, 300);
      await h.nextPaint(page);
      await page.screenshot({ path: path.join(out, `${scheme}-code.png`) });
      await page.keyboard.press('a');
      await h.deliver(page, data.audit);
      await page.screenshot({ path: path.join(out, `${scheme}-audit.png`) });
      await page.click('#auditBody tr.item:nth-child(2)');
      const cmd = (await h.sent(page)).filter((c) => c.type === 'selectFile').pop();
      const file = data.files.find((f) => f.path === h.unb64(cmd.path_b64).toString('utf8'));
      await h.deliver(page, data.code(file));
      await page.screenshot({ path: path.join(out, `${scheme}-jump.png`) });
      await page.keyboard.press('Control+s');
      const snap = (await h.sent(page)).filter((c) => c.type === 'savePng').pop();
      fs.writeFileSync(path.join(out, `${scheme}-snapshot.png`), h.unb64(snap.png_b64));
      if (pageErrors.length) console.log(scheme, 'page errors:', pageErrors);
      await page.close();
    }
  } finally {
    await browser.close();
  }
  console.log('screenshots in', out);
}
main().catch((e) => { console.error(e); process.exit(1); });
