'use strict';
// The page's overview map on a real tree, in the system Chromium: the first paint
// after switching to it, zooming into the largest folder and back out.
// Usage: node bench/overview_map.js REPORT_EXE TREE
const { execFileSync } = require('node:child_process');
const h = require('../tests/ui/harness');

async function main() {
  const [report, tree] = process.argv.slice(2);
  const out = execFileSync(report, ['--json', tree], { maxBuffer: 1 << 30 }).toString().split('\n');
  const project = JSON.parse(out[0]), lines = JSON.parse(out[2]);
  const browser = await h.launch();
  try {
    const { page } = await h.openPage(browser);
    await page.evaluate(([p, l]) => { window.__vh.deliver(p); window.__vh.deliver(l); }, [project, lines]);
    // From the event to the frame that shows its result.
    const timed = (what) => page.evaluate((action) => new Promise((resolve) => {
      const box = document.getElementById('mapCanvas').getBoundingClientRect();
      const t0 = performance.now();
      if (action === 'open') document.getElementById('tabMap').click();
      else if (action === 'in') document.getElementById('mapCanvas').dispatchEvent(new MouseEvent('click', { clientX: box.left + 30, clientY: box.top + 6, bubbles: true }));
      else document.querySelector('#mapCrumbs .crumb').click();
      requestAnimationFrame(() => setTimeout(() => resolve([performance.now() - t0, document.getElementById('mapCrumbs').textContent])));
    }), what);
    const [first] = await timed('open');
    const zoomIn = [], zoomOut = [];
    let folder = '';
    for (let i = 0; i < 5; i++) {
      const [tIn, crumbs] = await timed('in');
      zoomIn.push(tIn);
      folder = crumbs.split(' \u203a ').pop();
      zoomOut.push((await timed('out'))[0]);
    }
    const median = (a) => a.slice().sort((x, y) => x - y)[a.length >> 1];
    const files = project.files.length.toLocaleString('en');
    console.log(`overview map, ${files} files: first paint ${first.toFixed(0)} ms` +
      `; zoom into ${folder}/ median ${median(zoomIn).toFixed(0)} ms (max ${Math.max(...zoomIn).toFixed(0)})` +
      `; back to the whole tree median ${median(zoomOut).toFixed(0)} ms (max ${Math.max(...zoomOut).toFixed(0)})`);
  } finally {
    await browser.close();
  }
}

main().catch((err) => { console.error(err); process.exit(1); });
