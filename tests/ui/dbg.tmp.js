const h = require('./harness');
(async () => {
  const browser = await h.launch();
  const { page, pageErrors } = await h.openPage(browser);
  const paths = [];
  for (const d of ['src/core', 'src/ui', 'lib', 'docs', 'src/core/deep']) for (let i = 0; i < 12; i++) paths.push('/p/' + d + '/f' + i + '.c');
  paths.sort();
  await h.deliver(page, h.project(paths));
  await h.deliver(page, { type: 'setFileLines', lines: paths.map((_, i) => 10 + (i * 37) % 400) });
  await page.keyboard.press('o');
  await h.nextPaint(page);
  await page.screenshot({ path: '/tmp/map1.png' });
  console.log(pageErrors, await page.textContent('#status'), await page.textContent('#mapCrumbs'));
  await browser.close();
})();
