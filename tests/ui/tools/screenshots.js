'use strict';
// Renders the page with real data in light and dark and writes PNGs for a look:
//   node tests/ui/tools/screenshots.js [source-folder] [out-folder]
const fs = require('node:fs');
const path = require('node:path');
const h = require('../harness');

async function main() {
  const src = path.resolve(process.argv[2] || '/usr/src/googletest');
  const out = path.resolve(process.argv[3] || '/tmp/varnholt-shots');
  fs.mkdirSync(out, { recursive: true });
  const data = h.projectFromTree(src);
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
