#!/usr/bin/env python3
"""Builds a git repository commit by commit through git fast-import, every
line text unique, and writes what each line of the final tree went through:
the dates of the first-parent commits that changed it.

gen_history.py REPO [--commits N] [--files N] [--lines N] [--extra N] [--special]
Truth (REPO.truth, tab separated):
  F path commit-dates authors     per file (the path's bytes)
  L dates                         one per line of that file, oldest first
Refs: main; with --extra N, `next` is main plus N commits; with --special,
`early` is a first-parent ancestor of main."""
import argparse, random, subprocess, sys

START, STEP = 1_700_000_000, 3_600
AUTHORS = ["ana@example.org", "bo@example.org", "cy@example.org"]


class Gen:
    def __init__(s):
        s.out, s.mark, s.time, s.uid = [], 0, START, 0
        s.files, s.commits, s.authors = {}, {}, {}  # path -> lines, dates, set

    def text(s):
        s.uid += 1
        return f"line {s.uid} {'x' * (s.uid % 7)}"

    def content(s, path):
        sep = b"\r\n" if path.endswith(b".crlf") else b"\n"
        return b"".join(l["text"].encode() + sep for l in s.files[path])

    def commit(s, ref, changes, parent=None, merge=None, date=None):
        s.mark += 1
        s.time = date or s.time + STEP
        who = AUTHORS[s.mark % len(AUTHORS)]
        s.out.append(b"commit %s\nmark :%d\ncommitter C <%s> %d +0000\ndata 2\nc\n\n"
                     % (ref, s.mark, who.encode(), s.time))
        if parent: s.out.append(b"from :%d\n" % parent)
        if merge: s.out.append(b"merge :%d\n" % merge)
        for line in changes: s.out.append(line + b"\n")
        return s.mark, who

    def touch(s, path, when, who):
        s.commits.setdefault(path, []).append(when)
        s.authors.setdefault(path, set()).add(who)

    def modify(s, rng, path, pending=False, sites=2):
        """Replaces r lines by a at separate sites: the first min(r, a) new
        lines take over the replaced lines' dates."""
        lines = s.files[path]
        spots, at = [], 0
        for _ in range(sites):
            at += rng.randint(0 if not spots else 2, 6)
            r = rng.randint(0, 2) if at < len(lines) else 0
            r = min(r, len(lines) - at)
            near = lines[max(at - 1, 0):at + r + 1]
            if at > len(lines) or any(l.get("pending") for l in near): break
            a = rng.randint(0 if r else 1, 3)
            spots.append((at, r, a))
            at += r
        for at, r, a in reversed(spots):
            new = [{"text": s.text(), "dates": list(lines[at + k]["dates"]) if k < r else [],
                    "pending": pending, "fresh": True} for k in range(a)]
            lines[at:at + r] = new
        return bool(spots)

    def stamp(s, path, when):
        for l in s.files.get(path, []):
            if l.pop("fresh", False): l["dates"].append(when)
            l.pop("pending", None)

    def put(s, path):
        return [b"M 100644 inline " + quote(path)] + [None, s.content(path)]


def quote(path):
    if all(32 < c < 127 and c != 34 and c != 92 for c in path): return path
    return b'"' + b"".join(b"\\%03o" % c if c >= 127 or c < 32 or c in b'"\\' else bytes([c]) for c in path) + b'"'


def emit(g, changes):
    """fast-import lines, with inline data after "M ... inline" entries."""
    out = []
    for i in range(0, len(changes), 3):
        out.append(changes[i])
        if changes[i + 2] is not None: out.append(b"data %d\n%s" % (len(changes[i + 2]), changes[i + 2]))
    return out


def run(args):
    rng = random.Random(args.seed)
    g = Gen()
    paths = [b"sub/f%d.c" % i if i % 3 == 0 else b"f%d.c" % i for i in range(args.files)]
    if args.special: paths += [b"w.crlf", b"caf\xe9.c"]
    for p in paths:
        g.files[p] = [{"text": g.text(), "dates": [], "fresh": True} for _ in range(args.lines)]
    first, who = g.commit(b"refs/heads/main", emit(g, sum((g.put(p) for p in paths), [])),
                          date=START - 400 * 86400)
    for p in paths: g.stamp(p, g.time); g.touch(p, g.time, who)
    head, g.time = first, START

    def step(ref, parent):
        chosen = [p for p in rng.sample(sorted(g.files), 3) if g.modify(rng, p)]
        mark, who = g.commit(ref, emit(g, sum((g.put(p) for p in chosen), [])), parent=parent)
        return mark, who, chosen

    def main_step():
        nonlocal head
        head, who, chosen = step(b"refs/heads/main", head)
        for p in chosen: g.stamp(p, g.time); g.touch(p, g.time, who)

    for i in range(args.commits):
        main_step()
        if args.special and i == args.commits // 2:
            g.out.append(b"reset refs/heads/early\nfrom :%d\n" % head)
        if args.special and i == 3:  # rename with an edit, then one without
            old, new = b"f1.c", b"moved/g1.c"
            g.modify(rng, old, sites=1)
            g.files[new] = g.files.pop(old); g.commits[new] = g.commits.pop(old); g.authors[new] = g.authors.pop(old)
            head, who = g.commit(b"refs/heads/main", [b"D " + old] + emit(g, g.put(new)), parent=head)
            g.stamp(new, g.time); g.touch(new, g.time, who)
        if args.special and i == 5:  # deleted, re-added later
            head, who = g.commit(b"refs/heads/main", [b"D f2.c"], parent=head)
            g.touch(b"f2.c", g.time, who); del g.files[b"f2.c"]
        if args.special and i == 8:
            g.files[b"f2.c"] = [{"text": g.text(), "dates": [], "fresh": True} for _ in range(5)]
            head, who = g.commit(b"refs/heads/main", emit(g, g.put(b"f2.c")), parent=head)
            g.stamp(b"f2.c", g.time); g.touch(b"f2.c", g.time, who)
        if args.special and i == 10:  # a side branch of two commits, merged
            side = head
            touched = set()
            for _ in range(2):
                p = rng.choice(sorted(g.files))
                if g.modify(rng, p, pending=True): touched.add(p)
                side, _ = g.commit(b"refs/heads/side", emit(g, g.put(p)), parent=side)
            head, who = g.commit(b"refs/heads/main", emit(g, sum((g.put(p) for p in sorted(touched)), [])), parent=head, merge=side)
            for p in touched: g.stamp(p, g.time); g.touch(p, g.time, who)
        if args.special and i == 12:  # binary, link, submodule: never counted
            head, _ = g.commit(b"refs/heads/main", emit(g, [b"M 100644 inline bin.dat", None, b"\0\1\2" * 9,
                               b"M 120000 inline link.c", None, b"f3.c"]) +
                               [b"M 160000 " + b"1" * 40 + b" mod"], parent=head)
    base = head
    for _ in range(args.extra):
        head, _, _ = step(b"refs/heads/next", head)
    if args.extra: head = base
    git = ["git", "-C", args.repo]
    subprocess.run(["git", "init", "-q", "-b", "main", args.repo], check=True)
    subprocess.run(git + ["fast-import", "--quiet"], input=b"".join(g.out), check=True)
    subprocess.run(git + ["reset", "-q", "--hard"], check=True)
    with open(args.repo + ".truth", "wb") as f:
        for p in sorted(g.files):
            f.write(b"F\t%s\t%s\t%d\n" % (p, ",".join(map(str, g.commits[p])).encode(), len(g.authors[p])))
            for l in g.files[p]: f.write(b"L\t" + ",".join(map(str, l["dates"])).encode() + b"\n")


if __name__ == "__main__":
    a = argparse.ArgumentParser()
    a.add_argument("repo")
    for name, value in [("commits", 20), ("files", 12), ("lines", 20), ("extra", 0), ("seed", 1)]:
        a.add_argument("--" + name, type=int, default=value)
    a.add_argument("--special", action="store_true")
    run(a.parse_args())
