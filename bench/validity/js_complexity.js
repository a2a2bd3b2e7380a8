// Cyclomatic complexity of every JavaScript function of the files named on
// stdin (one path a line), counted by ESLint's own `complexity` rule at
// maximum 0, so that every function is reported. The rule reports a
// function at its head; a thin wrapper keeps its count and reports the
// function's whole extent instead. Prints one tab-separated row per
// function: path, first line, last line, complexity, name, the line where
// its body opens. With VALIDITY_JS_NO_NULLISH set, optional chaining, ??
// and ??= do not count.
"use strict";
const fs = require("node:fs");
const { Linter } = require("eslint");
const { builtinRules } = require("eslint/use-at-your-own-risk");

const complexity = builtinRules.get("complexity");
const extentRule = {
  meta: complexity.meta,
  create(context) {
    const wrapped = Object.create(context, {
      report: {
        value(descriptor) {
          const node = descriptor.node;
          // The message's "maximum" (always 0 here) carries the line where the
          // body opens; an arrow's expression body opens just before its expression.
          let open = node.loc.start.line;
          if (node.body && node.body.type === "BlockStatement") open = node.body.loc.start.line;
          else if (node.body && node.body.loc) open = node.body.loc.start.line - 1;
          context.report({ ...descriptor, loc: node.loc, data: { ...descriptor.data, max: open } });
        },
      },
    });
    const handlers = complexity.create(wrapped);
    if (process.env.VALIDITY_JS_NO_NULLISH) {
      // McCabe's own count: optional chaining and ?? / ??= are no branches.
      delete handlers.MemberExpression;
      delete handlers.CallExpression;
      const logical = handlers.LogicalExpression;
      handlers.LogicalExpression = (node) => node.operator === "??" || logical(node);
      const assignment = handlers.AssignmentExpression;
      handlers.AssignmentExpression = (node) => node.operator === "??=" || assignment(node);
    }
    return handlers;
  },
};

const linter = new Linter({ configType: "flat" });
function configFor(sourceType) {
  return [
    {
      files: ["**/*"],
      languageOptions: { ecmaVersion: "latest", sourceType },
      plugins: { bench: { rules: { complexity: extentRule } } },
      linterOptions: { noInlineConfig: true, reportUnusedDisableDirectives: "off" },
      rules: { "bench/complexity": ["error", 0] },
    },
  ];
}
const configs = {
  commonjs: configFor("commonjs"),
  module: configFor("module"),
  script: configFor("script"),
};

const paths = fs.readFileSync(0, "utf8").split("\n").filter(Boolean);
const out = [];
let unparsed = 0;
for (const path of paths) {
  let text;
  try {
    text = fs.readFileSync(path, "utf8");
  } catch {
    continue;
  }
  // CommonJS first (most of npm's tree), then ES modules, then sloppy scripts.
  const order = path.endsWith(".mjs") ? ["module", "commonjs", "script"] : ["commonjs", "module", "script"];
  let messages = null;
  for (const kind of order) {
    const result = linter.verify(text, configs[kind], { filename: "input.js" });
    if (!result.some((m) => m.fatal)) {
      messages = result;
      break;
    }
  }
  if (messages === null) {
    unparsed++;
    continue;
  }
  for (const m of messages) {
    const found = /has a complexity of (\d+)\. Maximum allowed is (\d+)/.exec(m.message);
    if (!found) continue;
    const name = m.message.replace(/ has a complexity of.*/, "");
    out.push(`${path}\t${m.line}\t${m.endLine}\t${found[1]}\t${name}\t${found[2]}`);
  }
}
process.stdout.write(out.join("\n") + (out.length ? "\n" : ""));
if (unparsed) process.stderr.write(`js_complexity: ${unparsed} files did not parse\n`);
