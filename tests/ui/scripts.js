'use strict';
// Runs some of the page's scripts in one strict scope, as the built page does,
// so that their pure parts can be tested under Node without a browser.
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

function loadScripts(...names) {
  const context = vm.createContext({ TextEncoder, TextDecoder });
  const code = names.map((n) => fs.readFileSync(path.join(__dirname, '..', '..', 'ui', 'js', n), 'utf8'));
  vm.runInContext("'use strict';\n" + code.join('\n'), context);
  return (expr) => vm.runInContext(expr, context);
}

module.exports = { loadScripts };
