#!/usr/bin/env python3
"""Compares varnholt-report --dump with the independent model in heat_oracle.py.

Writes a folder of random and deliberately awkward source files (every
language family, comments and strings spanning lines, odd line endings, long
lines, unbalanced braces, non-ASCII bytes), runs the report on it and checks
every file's language, every line heat, every file sum, the line total and the
per-file 0..1 heat of the project message.

usage: run_oracle.py VARNHOLT_REPORT [--seed N] [--files N] [--keep DIR]
"""

import argparse
import json
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import heat_oracle as oracle  # noqa: E402

REL_TOL = 1e-9

# Source extensions by family, upper-case spellings included: the extension
# is lower-cased before the lookup.
EXTENSIONS = [
    "swift", "SWIFT", "m", "mm", "h", "H", "c", "cc", "cpp", "cxx", "hpp", "hh",
    "hxx", "py", "Py", "js", "ts", "go", "rs", "java", "kt", "cs", "rb", "php",
    "sh", "metal", "json", "yml", "yaml", "toml", "sql", "html", "htm", "css",
    "txt", "",
]

KEYWORDS = sorted({
    "for", "while", "repeat", "do", "loop", "until", "done", "if", "else", "guard",
    "switch", "case", "where", "default", "elif", "match", "select", "then", "fi",
    "esac", "try", "catch", "throw", "throws", "rethrows", "defer", "except", "raise",
    "finally", "panic", "func", "init", "deinit", "def", "lambda", "function", "fn",
    "class", "struct", "enum", "protocol", "extension", "namespace", "template",
    "interface", "type", "trait", "impl", "and", "or", "operator", "constexpr",
    "inline", "static", "virtual", "public", "private", "protected", "override",
    "final", "typename", "return", "var", "let", "int",
})

ATOMS = [
    " ", " ", " ", "  ", "\t", "(", ")", "{", "}", "[", "]", ";", ",", ".", "..", "...",
    "&&", "||", "&", "|", "&&&", "|||", "?", "??", "?.", ":", "=", "==", "+=", "->",
    "!", "<", ">", "%", "*", "/", "\\", "\"", "'", "`", "\"\"\"", "'''", "//", "/*",
    "*/", "/*/", "#", "@", "$", "2x", "x2y", "_init", "123", "0x1F", "\r",
    "\u00e9", "\u00fc\u00df", "\ufeff", "\xff", "\x80", "\x00", "\x0c",
]

SPECIAL_LINES = [
    "", "}", "});", "};", "} else {", "{", "{{{{", "}}}}", "import Foundation",
    "import os", "package main", "using System;", "#include <stdio.h>", "#!/bin/sh",
    " * doc line", "*/", "/* one */", "// only a comment", "# only a comment",
    "\"just a string\"", "'''", "\"\"\"", "int main(int argc, char** argv) {",
    "static int counter = 0;", "if (x) {", "for (;;) {", "template <typename T>",
    "x = a and b or c", "x = A AND b OR c", "if a && b || c:", "FOR i IN list WHILE",
    "a.b.c.d.e.f.g", "a.b.c", "a.b.c.d", "s = \"abc\\", "s = 'x\\'", "`multi",
    "end`", "/* open", "close */ x = 1", "(", ")", "[]", "x ? y : z",
    "Import Foundation", "   \t  ", "\r",
]


HOT_WORDS = ["for", "while", "if", "else", "case", "try", "catch", "class", "struct",
             "enum", "type", "trait", "impl", "interface", "template", "x", "&&", "||",
             "?", "and", "or", "elif", "except", "panic", "do", "until"]


def hot_line(rng):
    """Dense keyword and operator load, to reach the caps of the trend, type
    and spread terms."""
    words = [rng.choice(HOT_WORDS) for _ in range(rng.randint(5, 70))]
    return "    " * rng.randint(0, 3) + " ".join(words) + rng.choice(["", " {", " }", " } {"])


def random_line(rng, hot=False):
    if hot and rng.random() < 0.7:
        return hot_line(rng)
    roll = rng.random()
    if roll < 0.15:
        return rng.choice(SPECIAL_LINES)
    if roll < 0.18:
        # Long lines around the two length thresholds.
        length = rng.choice([139, 140, 141, 239, 240, 241, 300])
        body = " ".join(rng.choice(KEYWORDS + ["x", "y1", "z"]) for _ in range(80))
        return body[:length].rstrip(" ").ljust(length, "x")
    if roll < 0.21:
        # Many tokens, around the 60 and 50 token caps.
        count = rng.choice([9, 10, 11, 12, 13, 49, 50, 51, 59, 60, 61, 80])
        return " ".join(rng.choice(["a", "b", "if", "c1"]) for _ in range(count))
    if roll < 0.23:
        return ".".join("p" for _ in range(rng.randint(1, 12)))
    parts = []
    indent = rng.choice(["", "    ", "        ", "\t", "\t\t"])
    parts.append(indent)
    for _ in range(rng.randint(1, 14)):
        pick = rng.random()
        if pick < 0.35:
            word = rng.choice(KEYWORDS)
            case = rng.random()
            if case < 0.15:
                word = word.upper()
            elif case < 0.3:
                word = word.capitalize()
            parts.append(word)
        elif pick < 0.55:
            parts.append(rng.choice(["x", "item", "total", "a_b", "Foo", "_", "n9"]))
        else:
            parts.append(rng.choice(ATOMS))
        if rng.random() < 0.5:
            parts.append(" ")
    return "".join(parts)


def random_text(rng):
    hot = rng.random() < 0.15
    if hot and rng.random() < 0.3:
        # Deep nesting: the depth and block factors stop growing at 24 levels.
        lines = ["x%d = 1 {" % level for level in range(rng.randint(20, 40))]
        lines += [random_line(rng, hot) for _ in range(rng.randint(5, 30))]
    else:
        lines = [random_line(rng, hot) for _ in range(rng.randint(0, 60))]
    ending = rng.choice(["\n", "\n", "\r\n", "mixed"])
    pieces = []
    for index, line in enumerate(lines):
        pieces.append(line)
        if index + 1 < len(lines) or rng.random() < 0.6:
            if ending == "mixed":
                pieces.append(rng.choice(["\n", "\r\n", "\r", "\n\n"]))
            else:
                pieces.append(ending)
    text = "".join(pieces)
    # Latin-1 keeps every generated code point below 256 as one byte; the
    # rest go out as UTF-8.
    data = b"".join(
        ch.encode("latin-1") if ord(ch) < 256 else ch.encode("utf-8") for ch in text)
    if rng.random() < 0.05:
        data = b"\xef\xbb\xbf" + data
    return data


def fixed_files():
    """Files whose names or contents test the walk and the text test."""
    swift = oracle.SWIFT_EXAMPLE
    files = {
        "fixed/example.swift": swift,
        "fixed/MAIN.SWIFT": swift,
        "fixed/Makefile": b"all:\n\tcc -o x x.c && echo ok || exit 1\n",
        "fixed/binary.txt": b"abc\x00def\n",
        "fixed/control3.txt": b"\x0c\x0c\x0c" + b"a" * 97,
        "fixed/control2.txt": b"\x0c\x0c" + b"a" * 98,
        "fixed/empty.c": b"",
        "fixed/image.PNG": b"if (x) { y(); }\n",
        "fixed/archive.tar.gz": b"for x\n",
        "fixed/.hidden.c": b"for x\n",
        "fixed/.DS_Store": b"for x\n",
        "fixed/node_modules/x.js": b"for (;;) {}\n",
        "fixed/Build/kept.js": b"for (;;) {}\n",
        "fixed/build/skipped.js": b"for (;;) {}\n",
        "fixed/XcUserData/skipped.c": b"if (x) {}\n",
        "fixed/.config/skipped.c": b"if (x) {}\n",
        "fixed/cr_only.c": b"if (a) {\rb();\r}\r",
        "fixed/one_newline.py": b"\n",
        "fixed/deep.c": b"{" * 600 + b"\nif (a && b) { c(); }\n" + b"}" * 700 + b"\nfor x\n",
        "fixed/bom.rs": b"\xef\xbb\xbf\n",
        "fixed/report.tar.c": b"while (1) { x = a ? b : c; }",
        # 600 levels saturate at 512, so 500 closes leave depth 12, not 100.
        "fixed/saturate.c": b"{" * 600 + b"\n" + b"}" * 500 + b"\nif (a && b || c) x = d ? e : f;\n",
        # A backslash at a line end escapes nothing on the next line.
        "fixed/escape_eol.c": b's = "abc\\\n" if (x && y) {\n"\\\n\' while\n',
        "fixed/escape_eol.js": b"s = 'abc\\\n' + `tick\\\n` for (;;) {}\n",
        "fixed/escape_eol.py": b'x = "a\\\n"" if a and b:\n\'\'\'x\\\n\'\'\' or\n',
        "fixed/triples.py": b'"""a\\"""\nif x or y:\n\'\'\'\'\nwhile and\n\'\'\'\n""""""x and y\n',
        "fixed/triples.c": b'x = """ if (a) { y }\n\'\'\' while (b) {}\n',
        "fixed/comments.go": b"/*/ for x */ if y {\n*/ for\n/*//*/ switch x {\n// }\n}\n",
        # A carriage return inside a line is white space, not code.
        "fixed/inner_cr.c": b"\r\"abc\"\n\t\r'x'\n\rx\n",
        # The size window is 1 .. 2 MiB inclusive; the text test reads 64 KiB.
        "fixed/two_mib.swift": b"x // " + b"a" * (oracle.MAX_FILE_SIZE - 5),
        "fixed/too_big.swift": b"x // " + b"a" * (oracle.MAX_FILE_SIZE - 4),
        "fixed/late_nul.txt": b"a\n" * 40000 + b"\x00",
        "fixed/early_nul.txt": b"a\n" * 30000 + b"\x00",
        "fixed/trailing.": b"for (;;) {}\n",
        "fixed/x.tar.GZ": b"for (;;) {}\n",
        "fixed/mixed.Swift": b"for x in y {\n}\n",
        "fixed/caf\u00e9.swi\u00e9": b"for x in y {\n}\n",
        "fixed/quo\"te\\back.c": b"if (a) { b(); }\n",
        "fixed/backtick.go": b"x := `for` + if {\n`\n}\n",
    }
    return files


def build_tree(root, rng, count, corpus=None, per_extension=0):
    files = fixed_files()
    if corpus:
        files.update(corpus_files(corpus, rng, per_extension))
    for index in range(count):
        ext = EXTENSIONS[index % len(EXTENSIONS)]
        name = "f%04d" % index + ("." + ext if ext else "")
        files["gen/%02d/%s" % (index % 7, name)] = random_text(rng)
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
    return files


def corpus_files(folders, rng, per_extension):
    """Real files copied from the given folders, a sample per extension."""
    by_ext = {}
    for folder in folders:
        for base, dirs, names in os.walk(folder):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(base, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                if not 0 < os.path.getsize(path) <= oracle.MAX_FILE_SIZE:
                    continue
                by_ext.setdefault(oracle.extension_of(name), []).append(path)
    files = {}
    for ext in sorted(by_ext):
        paths = by_ext[ext]
        for index, path in enumerate(rng.sample(paths, min(per_extension, len(paths)))):
            with open(path, "rb") as handle:
                files["corpus/%s/%04d_%s" % (ext or "none", index, os.path.basename(path))] = handle.read()
    return files


def expected_files(files):
    """rel path -> (language, content) for the files the walk must keep."""
    kept = {}
    for rel, data in files.items():
        parts = rel.split("/")
        skipped = False
        for depth, name in enumerate(parts):
            is_dir = depth + 1 < len(parts)
            if oracle.is_skipped_entry(name, is_dir, "/" + "/".join(parts[:depth + 1])):
                skipped = True
                break
        if skipped:
            continue
        language = oracle.language_of_file(parts[-1], data)
        if language is not None:
            kept[rel] = (language, data)
    return kept


def close(a, b):
    return math.isclose(a, b, rel_tol=REL_TOL, abs_tol=0.0)


def describe_line(records, number, line):
    r = records[number - 1]
    f = r.facts
    return ("    text %r\n    oracle: skipped=%s depth=%d block=%d tokens=%d kw(l,b,e,f,t)=%d,%d,%d,%d,%d "
            "bool=%d tern=%d dots=%d braces=%d/%d decl=%s base=%r raw=%r spread=%r" % (
                line, r.skipped, r.depth, r.block_id, f.token_count, f.loop_kw, f.branch_kw,
                f.exception_kw, f.function_kw, f.type_kw, f.bool_ops, f.ternaries, f.dots,
                f.open_braces, f.close_braces, r.looks_like_declaration, r.heat_base,
                r.raw_score, r.spread))


def compare(report, root, kept):
    dump = subprocess.run([report, "--dump", root], capture_output=True, check=True)
    objects = [json.loads(line) for line in dump.stdout.decode("utf-8").splitlines() if line]
    total = objects.pop()
    problems = []
    prefix = root.rstrip("/") + "/"
    seen = {}
    for obj in objects:
        path = obj["path"]
        if not path.startswith(prefix):
            problems.append("unexpected path %r" % path)
            continue
        seen[path[len(prefix):]] = obj
    if sorted(seen) != sorted(kept):
        problems.append("files differ: engine only %s, oracle only %s" % (
            sorted(set(seen) - set(kept)), sorted(set(kept) - set(seen))))
    paths = [obj["path"] for obj in objects]
    if paths != sorted(paths, key=lambda p: p.encode("utf-8")):
        problems.append("dump is not in byte-wise path order")

    compared_lines = 0
    heat_raws = {}
    for rel in sorted(set(seen) & set(kept)):
        obj = seen[rel]
        language, data = kept[rel]
        if obj["language"] != language:
            problems.append("%s: language %d, expected %d" % (rel, obj["language"], language))
            continue
        heats, heat_raw, records = oracle.analyze_text(data, language)
        heat_raws[rel] = obj["heatRaw"]
        engine = obj["lines"]
        if len(engine) != len(heats):
            problems.append("%s: %d lines, expected %d" % (rel, len(engine), len(heats)))
            continue
        lines = oracle.split_lines(data)
        for number, (got, want) in enumerate(zip(engine, heats), start=1):
            compared_lines += 1
            if not close(got, want):
                problems.append("%s:%d: heat %r, expected %r\n%s" % (
                    rel, number, got, want, describe_line(records, number, lines[number - 1])))
        if not close(obj["heatRaw"], heat_raw):
            problems.append("%s: heatRaw %r, expected %r" % (rel, obj["heatRaw"], heat_raw))

    want_total = min(sum(oracle.count_lines(data) for _, data in kept.values()), 2147483647)
    if total.get("totalLOC") != want_total:
        problems.append("totalLOC %r, expected %d" % (total.get("totalLOC"), want_total))
    return problems, len(seen), compared_lines, heat_raws


def compare_project_message(report, root, heat_raws):
    """The file heat of the project message, from the engine's own heatRaw values."""
    out = subprocess.run([report, "--json", root], capture_output=True, check=True)
    problems = []
    message = None
    for line in out.stdout.splitlines():
        if line.startswith(b"{\"type\":\"setProject\""):
            message = json.loads(line.decode("utf-8"))
    if message is None:
        return ["no setProject message in --json output"]
    prefix = root.rstrip("/") + "/"
    rels = sorted(heat_raws)
    expected = dict(zip(rels, oracle.file_heat01([heat_raws[r] for r in rels])))
    for entry in message["files"]:
        rel = entry["path"][len(prefix):]
        if rel not in expected:
            problems.append("setProject lists %r" % entry["path"])
            continue
        # Four decimals are written; allow only the rounding.
        if abs(entry["heat01"] - expected[rel]) > 0.5e-4 + 1e-12:
            problems.append("%s: heat01 %r, expected %.6f" % (rel, entry["heat01"], expected[rel]))
    if len(message["files"]) != len(expected):
        problems.append("setProject has %d files, expected %d" % (len(message["files"]), len(expected)))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("report")
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--files", type=int, default=360)
    parser.add_argument("--keep", help="write the tree here and leave it")
    parser.add_argument("--corpus", action="append",
                        help="also compare a sample of the files below this folder")
    parser.add_argument("--per-extension", type=int, default=40)
    args = parser.parse_args()

    oracle.check_known_figures()
    rng = random.Random(args.seed)
    if args.keep:
        root = os.path.abspath(args.keep)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
    else:
        root = tempfile.mkdtemp(prefix="heat_oracle_")
    try:
        files = build_tree(root, rng, args.files, args.corpus, args.per_extension)
        kept = expected_files(files)
        problems, file_count, line_count, heat_raws = compare(args.report, root, kept)
        problems += compare_project_message(args.report, root, heat_raws)
    finally:
        if not args.keep:
            shutil.rmtree(root, ignore_errors=True)

    for problem in problems[:40]:
        print(problem)
    if len(problems) > 40:
        print("... %d more" % (len(problems) - 40))
    print("compared %d files, %d lines: %d disagreements" % (file_count, line_count, len(problems)))
    return 1 if problems or line_count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
