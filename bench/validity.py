#!/usr/bin/env python3
"""Does heat point at hard code? Runs varnholt-report and an independent
cyclomatic-complexity tool on the same tree and prints, per report and scope:

- how many of the audit's lines sit inside a function, and inside a function
  in the top decile of the tree's functions by cyclomatic complexity;
- the Spearman rank correlation, over every function of the tree, between
  the heat of its hottest line and its complexity;
- the first three lines of the audit.

Complexity tools: pmccabe (C), radon (Python), ESLint's `complexity` rule
(JavaScript, bench/validity/package.json) and bench/validity/MethodComplexity.java
(Java, the JDK's own parser). Missing Debian packages are installed with
apt-get, the npm ones with `npm ci`. Each tree's functions are cached in
~/.cache/varnholt/validity/ and measured again when its files change.

Trees are paths (the language is the most common one among them) or names:
jdk (java/util + java/lang of the JDK 17 sources), npm (npm's own sources),
kernel (the kernel tree `make bench` unpacks), python (Python's standard library).
"""

import argparse
import csv
import hashlib
import io
import json
import math
import os
import shutil
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
TOOL_DIR = os.path.join(HERE, "validity")
CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "varnholt")

EXTENSIONS = {
    "c": (".c", ".h"),
    "python": (".py",),
    "js": (".js", ".mjs", ".cjs"),
    "java": (".java",),
}
# Raised when the way functions are gathered changes, so cached lists are made again.
CACHE_FORMAT = 2
JDK_ZIP = "/usr/lib/jvm/java-17-openjdk-amd64/lib/src.zip"


def log(text):
    print(text, file=sys.stderr, flush=True)


def prepare_preset(name):
    """Path and language of a named tree, or (None, reason) when it is not there."""
    if name == "jdk":
        tree = os.path.join(CACHE, "jdk17-src")
        if not os.path.isdir(os.path.join(tree, "java.base/java/util")):
            if not os.path.exists(JDK_ZIP):
                return None, f"{JDK_ZIP} is missing (Debian package openjdk-17-source)"
            with zipfile.ZipFile(JDK_ZIP) as archive:
                wanted = [n for n in archive.namelist()
                          if n.startswith(("java.base/java/util/", "java.base/java/lang/"))]
                archive.extractall(tree + ".partial", wanted)
            os.rename(tree + ".partial", tree)
        return tree, "java"
    if name == "npm":
        return "/usr/lib/node_modules/npm", "js"
    if name == "kernel":
        return os.path.join(CACHE, "linux-source-6.1"), "c"
    if name == "python":
        return f"/usr/lib/python3.{sys.version_info.minor}", "python"
    return name, None


def source_files(tree, language):
    exts = EXTENSIONS[language]
    found = []
    for folder, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if name.endswith(exts) and os.path.isfile(path) and not os.path.islink(path):
                found.append(path)
    return found


def guess_language(tree):
    counts = {lang: 0 for lang in EXTENSIONS}
    for _, _, files in os.walk(tree):
        for name in files:
            for lang, exts in EXTENSIONS.items():
                if name.endswith(exts):
                    counts[lang] += 1
    lang = max(counts, key=counts.get)
    return lang if counts[lang] else None


def apt_install(package):
    log(f"Installing {package} (only this benchmark needs it)")
    sudo = [] if os.getuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", package], check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def ensure_tool(language):
    """Installs the complexity tool of a language when missing; False when it cannot be had."""
    try:
        if language == "c" and not shutil.which("pmccabe"):
            apt_install("pmccabe")
        elif language == "python" and not shutil.which("radon"):
            apt_install("radon")
        elif language == "java" and not shutil.which("javac"):
            apt_install("openjdk-17-jdk-headless")
        elif language == "js":
            if not shutil.which("node") or not shutil.which("npm"):
                apt_install("npm")
            if not os.path.isdir(os.path.join(TOOL_DIR, "node_modules", "eslint")):
                subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"],
                               cwd=TOOL_DIR, check=True)
    except (subprocess.CalledProcessError, OSError) as error:
        log(f"cannot install the {language} complexity tool: {error}")
        return False
    return True


def in_batches(items, size=400):
    for start in range(0, len(items), size):
        yield items[start:start + size]


def functions_c(files):
    # pmccabe: modified and traditional McCabe, statements, first line, lines, "file(line): name".
    rows = []
    for batch in in_batches(files):
        run = subprocess.run(["pmccabe"] + batch, capture_output=True, text=True, errors="replace")
        output = run.stdout
        if run.returncode != 0:
            # pmccabe gives up (or crashes) on some files and loses the rest of
            # the batch: measure that batch file by file.
            output = "".join(subprocess.run(["pmccabe", path], capture_output=True, text=True,
                                            errors="replace").stdout for path in batch)
        for line in output.splitlines():
            parts = line.split("\t")
            if len(parts) < 6:
                continue
            path = parts[5].rsplit("(", 1)[0]
            first, count = int(parts[3]), int(parts[4])
            name = parts[5].split(": ", 1)[-1]
            rows.append((path, first, first + max(count, 1) - 1, int(parts[1]), name, None))
    return with_body_lines(rows, lambda code: "{" in code)


def with_body_lines(rows, opens):
    """Fills in the line where each function's body opens (None) from its text:
    the first line from the function's first on whose code `opens` holds."""
    texts = {}
    filled = []
    for path, first, last, complexity, name, open_line in rows:
        if open_line is None:
            if path not in texts:
                try:
                    with open(path, encoding="utf-8", errors="replace") as source:
                        texts[path] = source.read().split("\n")
                except OSError:
                    texts[path] = []
            lines = texts[path]
            open_line = first
            for number in range(first, min(last, first + 30) + 1):
                if number <= len(lines) and opens(lines[number - 1].split("#" if path.endswith(".py") else "//")[0]):
                    open_line = number
                    break
        filled.append((path, first, last, complexity, name, open_line))
    return filled


def functions_python(files):
    rows = []

    def walk(path, blocks):
        for block in blocks:
            if block.get("type") == "class":
                walk(path, block.get("methods", []))
                continue
            rows.append((path, block["lineno"], block["endline"], block["complexity"], block["name"], None))
            walk(path, block.get("closures", []))

    for batch in in_batches(files, 200):
        run = subprocess.run(["radon", "cc", "-j"] + batch, capture_output=True, text=True)
        try:
            report = json.loads(run.stdout or "{}")
        except json.JSONDecodeError:
            continue
        for path, blocks in report.items():
            if isinstance(blocks, list):
                walk(path, blocks)
    # A method is listed under its class and again on its own.
    return with_body_lines(sorted(set(rows)), lambda code: code.rstrip().endswith(":"))


def functions_from_helper(command, files, cwd=None):
    run = subprocess.run(command, input="\n".join(files) + "\n", capture_output=True,
                         text=True, cwd=cwd, errors="replace")
    if run.returncode != 0:
        log(run.stderr.strip())
        return []
    rows = []
    for line in run.stdout.splitlines():
        parts = line.split("\t")
        if len(parts) == 6:
            rows.append((parts[0], int(parts[1]), int(parts[2]), int(parts[3]), parts[4], int(parts[5])))
    return rows


def functions_java(files):
    classes = os.path.join(CACHE, "validity", "java-classes")
    source = os.path.join(TOOL_DIR, "MethodComplexity.java")
    compiled = os.path.join(classes, "MethodComplexity.class")
    if not os.path.exists(compiled) or os.path.getmtime(compiled) < os.path.getmtime(source):
        os.makedirs(classes, exist_ok=True)
        subprocess.run(["javac", "-d", classes, source], check=True)
    return functions_from_helper(["java", "-Xss8m", "-cp", classes, "MethodComplexity"], files)


def functions_js(files):
    return functions_from_helper(["node", os.path.join(TOOL_DIR, "js_complexity.js")], files)


MEASURE = {"c": functions_c, "python": functions_python, "java": functions_java, "js": functions_js}
TOOL_NAME = {"c": "pmccabe (traditional McCabe)", "python": "radon cc",
             "java": "MethodComplexity.java (javac's parser)", "js": "ESLint complexity rule"}


def tree_functions(tree, language):
    """Every function of the tree as (relative path, first line, last line,
    complexity, name, line where the body opens), cached."""
    files = source_files(tree, language)
    stamp = hashlib.sha256(f"functions v{CACHE_FORMAT}".encode())
    for path in files:
        info = os.stat(path)
        stamp.update(f"{path}\0{info.st_size}\0{info.st_mtime_ns}\n".encode())
    for helper in ("MethodComplexity.java", "js_complexity.js", "package-lock.json"):
        helper_path = os.path.join(TOOL_DIR, helper)
        if os.path.exists(helper_path):
            stamp.update(open(helper_path, "rb").read())
    variant = "no-nullish" if language == "js" and os.environ.get("VALIDITY_JS_NO_NULLISH") else ""
    key = hashlib.sha256(f"{tree}\0{language}\0{variant}".encode()).hexdigest()[:16]
    cache_file = os.path.join(CACHE, "validity", f"{language}-{key}.json")
    if os.path.exists(cache_file):
        with open(cache_file) as cached:
            data = json.load(cached)
        if data.get("stamp") == stamp.hexdigest():
            return [tuple(row) for row in data["functions"]], len(files), True
    if not ensure_tool(language):
        return None, len(files), False
    started = time.monotonic()
    log(f"  {TOOL_NAME[language]} on {len(files)} files of {tree} ...")
    rows = MEASURE[language](files)
    log(f"  {len(rows)} functions in {time.monotonic() - started:.0f} s")
    functions = []
    for path, first, last, complexity, name, open_line in rows:
        full = path if os.path.isabs(path) else os.path.join(tree, path)
        last = max(first, last)
        functions.append((os.path.relpath(full, tree), first, last, complexity, name,
                          min(max(first, open_line), last)))
    functions.sort()
    os.makedirs(os.path.dirname(cache_file), exist_ok=True)
    with open(cache_file + ".tmp", "w") as out:
        json.dump({"stamp": stamp.hexdigest(), "functions": functions}, out)
    os.replace(cache_file + ".tmp", cache_file)
    return functions, len(files), False


def ranks(values):
    order = sorted(range(len(values)), key=values.__getitem__)
    result = [0.0] * len(values)
    i = 0
    while i < len(order):
        j = i
        while j + 1 < len(order) and values[order[j + 1]] == values[order[i]]:
            j += 1
        for k in range(i, j + 1):
            result[order[k]] = (i + j) / 2 + 1
        i = j + 1
    return result


def spearman(xs, ys):
    if len(xs) < 3:
        return float("nan")
    rx, ry = ranks(xs), ranks(ys)
    mean = (len(xs) + 1) / 2
    cov = sum((a - mean) * (b - mean) for a, b in zip(rx, ry))
    vx = sum((a - mean) ** 2 for a in rx)
    vy = sum((b - mean) ** 2 for b in ry)
    return cov / math.sqrt(vx * vy) if vx and vy else float("nan")


def scope_args(scope):
    return [] if scope == "default" else ["--scope", scope]


def run_audit(report, tree, scope):
    """The audit's lines as the CI formats list them (the report's own default
    scope unless one is given), with each line's raw heat and text."""
    run = subprocess.run([report, "--format", "csv", "--max-findings", "30"] + scope_args(scope) + [tree],
                         capture_output=True, text=True, errors="replace")
    if run.returncode != 0:
        raise RuntimeError(f"{report} --format csv failed: {run.stderr.strip()}")
    items = []
    for row in csv.DictReader(io.StringIO(run.stdout)):
        path = os.path.join(tree, row["path"])
        try:
            with open(path, encoding="utf-8", errors="replace") as source:
                text = source.read().split("\n")[int(row["line"]) - 1]
        except (OSError, IndexError):
            text = ""
        items.append({"path": path, "lineStart": int(row["line"]), "cv": float(row["heat_raw"]),
                      "preview": text})
    return items


def hottest_lines(report, tree, by_file):
    """Each function's hottest raw line heat, over the whole function and over
    its body, from the report's per-line dump."""
    hottest = {}
    child = subprocess.Popen([report, "--dump", "--scope", "all", tree], stdout=subprocess.PIPE,
                             text=True, errors="replace")
    for line in child.stdout:
        if not line.startswith('{"path"'):
            continue
        # Parse only the files that hold functions: the dump of a big tree is large.
        end = line.index('",', 9)
        relative = os.path.relpath(json.loads(line[8:end + 1]), tree)
        functions = by_file.get(relative)
        if not functions:
            continue
        heats = json.loads(line)["lines"]
        for function in functions:
            _, first, last, _, _, open_line = function
            whole = heats[first - 1:last]
            body = whole if first == last else heats[open_line:last]
            if whole:
                hottest[function] = (max(whole), max(body) if body else None)
    if child.wait() != 0:
        raise RuntimeError(f"{report} --dump failed")
    return hottest


def measure(report, tree, scopes, functions):
    by_file = {}
    for function in functions:
        by_file.setdefault(function[0], []).append(function)
    started = time.monotonic()
    hottest = hottest_lines(report, tree, by_file)
    # Functions in files the report does not analyse (say, below node_modules) take no part.
    paired = [f for f in functions if f in hottest]
    complexities = sorted((f[3] for f in paired), reverse=True)
    cut = complexities[max(0, math.ceil(len(complexities) / 10) - 1)] if complexities else 0
    by_file = {}
    for function in paired:
        by_file.setdefault(function[0], []).append(function)
    rho = spearman([hottest[f][0] for f in paired], [f[3] for f in paired])
    with_body = [f for f in paired if hottest[f][1] is not None]
    rho_body = spearman([hottest[f][1] for f in with_body], [f[3] for f in with_body])
    log(f"  dump and correlation: {time.monotonic() - started:.0f} s")

    results = []
    for scope in scopes:
        items = run_audit(report, tree, scope)
        inside = top = in_body = top_body = 0
        lines = []
        for item in items:
            relative = os.path.relpath(item["path"], tree)
            line = item["lineStart"]
            around = [f for f in by_file.get(relative, []) if f[1] <= line <= f[2]]
            # A signature line is inside the function but not in its body.
            body = [f for f in around if f[1] == f[2] or f[5] < line]
            inside += bool(around)
            top += any(f[3] >= cut for f in around)
            in_body += bool(body)
            top_body += any(f[3] >= cut for f in body)
            lines.append({"where": f"{relative}:{line}", "heat": item["cv"], "text": item["preview"].strip(),
                          "functions": [f"{f[4]} ({f[3]})" for f in around], "in_body": bool(body)})
        heads = [f"{os.path.relpath(i['path'], tree)}:{i['lineStart']} ({i['cv']:.0f}) "
                 f"`{' '.join(i['preview'].split())[:60]}`" for i in items[:3]]
        results.append({"scope": scope, "audit": len(items), "inside": inside, "top": top,
                        "in_body": in_body, "top_body": top_body, "rho": rho, "rho_body": rho_body,
                        "paired": len(paired), "cut": cut, "heads": heads, "lines": lines,
                        "tree_files": len({f[0] for f in paired})})
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("trees", nargs="*", default=["jdk", "npm", "kernel", "python"],
                        help="paths or jdk, npm, kernel, python (default: all four)")
    parser.add_argument("--report", action="append", metavar="[LABEL=]PATH",
                        help="a varnholt-report binary (repeatable; default: this build's)")
    parser.add_argument("--scope", action="append", choices=["default", "all", "code", "nontest"],
                        help="scopes of the audit (repeatable; default: default and code)")
    parser.add_argument("--js-no-nullish", action="store_true",
                        help="JavaScript: count neither optional chaining nor ?? and ??= as branches "
                             "(ESLint counts them)")
    parser.add_argument("--json", metavar="FILE",
                        help="also write every figure and each audit line's functions to FILE")
    args = parser.parse_args()

    reports = []
    for entry in args.report or [os.path.join(REPO, "build/default/src/cli/varnholt-report")]:
        label, _, path = entry.rpartition("=")
        reports.append((label or path, path))
    for _, path in reports:
        if not os.access(path, os.X_OK):
            sys.exit(f"no varnholt-report at {path}")
    scopes = args.scope or ["default", "code"]
    if args.js_no_nullish:
        os.environ["VALIDITY_JS_NO_NULLISH"] = "1"
        TOOL_NAME["js"] += " without ?. ?? ??="

    rows, skipped = [], []
    for name in args.trees:
        tree, language = prepare_preset(name)
        if tree is None:
            skipped.append(f"{name}: {language}")
            continue
        if not os.path.isdir(tree):
            skipped.append(f"{name}: {tree} is not there")
            continue
        tree = os.path.realpath(tree)
        language = language or guess_language(tree)
        if language is None:
            skipped.append(f"{name}: no C, Python, JavaScript or Java files")
            continue
        log(f"== {name}: {tree} ({language})")
        functions, file_count, cached = tree_functions(tree, language)
        if functions is None:
            skipped.append(f"{name}: no {TOOL_NAME[language]}")
            continue
        log(f"  {len(functions)} functions in {file_count} files{' (cached)' if cached else ''}")
        for label, report in reports:
            for result in measure(report, tree, scopes, functions):
                result.update(tree=name, report=label, tool=TOOL_NAME[language],
                              functions=len(functions), files=file_count)
                rows.append(result)
                log(f"  {label} {result['scope']}: {result['inside']}/{result['audit']} inside "
                    f"({result['in_body']} in a body), {result['top']}/{result['audit']} top decile "
                    f"({result['top_body']} in a body), rho {result['rho']:.3f} (body {result['rho_body']:.3f})")

    print("Audit lines inside a function (in its body: signature lines left out), inside a function of "
          "the top decile by cyclomatic complexity, and the Spearman correlation over all functions "
          "of the function's hottest line heat with its complexity (hottest line of the body).")
    print()
    print("| tree | report | scope | inside a function (body) | inside a top-decile function (body) "
          "| Spearman (body) over functions | what tops the audit |")
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        print(f"| {r['tree']} | {r['report']} | {r['scope']} | {r['inside']} / {r['audit']} ({r['in_body']}) "
              f"| {r['top']} / {r['audit']} ({r['top_body']}); complexity ≥ {r['cut']} "
              f"| {r['rho']:.3f} ({r['rho_body']:.3f}); {r['paired']:,} functions "
              f"| {'<br>'.join(r['heads'])} |")
    print()
    for tool in sorted({(r["tree"], r["tool"], r["files"], r["tree_files"], r["functions"], r["paired"])
                        for r in rows}):
        print(f"{tool[0]}: {tool[1]} on {tool[2]:,} source files ({tool[4]:,} functions); "
              f"{tool[3]:,} of the files with {tool[5]:,} functions are in the report")
    for line in skipped:
        print(f"skipped {line}")
    if args.json:
        with open(args.json, "w") as out:
            json.dump(rows, out, indent=1)


if __name__ == "__main__":
    main()
