'use strict';
// The built page stands alone: the web views get it as one string, so it must
// hold all of its style and script and name nothing to load.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const PAGE_FILE = process.env.VARNHOLT_PAGE || path.join(__dirname, '..', '..', 'build', 'default', 'ui', 'VarnholtUI.html');

test('the built page is one document with its style and one script inline', () => {
  const html = fs.readFileSync(PAGE_FILE, 'utf8');
  assert.match(html, /^<!doctype html>\n[^]*<\/html>\n$/);
  const scripts = [...html.matchAll(/<script\b([^>]*)>([^]*?)<\/script>/g)];
  assert.strictEqual(scripts.length, 1);
  assert.strictEqual(scripts[0][1], '');
  assert.strictEqual((html.match(/<style>/g) || []).length, 1);
  assert.doesNotMatch(html.replace(scripts[0][0], ''), /\bsrc=|\bhref=|<link\b|url\(|@import|^@(css|scripts)$/im);
  // Every part made it in: the last one starts the page.
  const js = scripts[0][2];
  assert.match(js, /^\n\(\(\) => \{\n'use strict';\n[^]*\nelse init\(\);\n\}\)\(\);\n$/);
  assert.doesNotThrow(() => new vm.Script(js, { filename: PAGE_FILE }));
});
