#!/usr/bin/env python3
"""varnholt-report --hotspots on a generated repository: change counts as
`git log --first-parent` counts them, the same files in JSON and CSV, and
CI findings ranked by hotspot."""
import csv, io, json, os, subprocess, sys, tempfile

report, generator = sys.argv[1], os.path.join(os.path.dirname(__file__), "gen_history.py")


def run(*args):
    done = subprocess.run([report, "--hotspots", *args], capture_output=True)
    assert done.returncode == 0, done.stderr
    return done.stdout.decode("utf-8", "replace")


with tempfile.TemporaryDirectory() as tmp:
    repo = os.path.join(tmp, "repo")
    subprocess.run([sys.executable, generator, repo, "--special", "--commits", "30"], check=True)
    rows = [json.loads(l) for l in run("--json", "--since", "2000-01-01", "--top", "1000", repo).splitlines()]
    assert rows[0]["history"] == "git" and rows[0]["commits"] == 36, rows[0]
    files = {r["path"]: r for r in rows if r["type"] == "hotspotFile"}
    assert "moved/g1.c" in files and "sub/f0.c" in files and "w.crlf" not in files  # code only
    for path, row in files.items():
        if path == "moved/g1.c" or "\ufffd" in path: continue  # a followed rename; a name JSON cannot carry
        log = subprocess.run(["git", "-C", repo, "log", "--first-parent", "--since=2000-01-01", "--format=%H",
                              "--", path], capture_output=True, check=True, text=True).stdout
        assert row["changes"] == len(log.split()), (path, row, log)
    scores = [r["score"] for r in files.values()]
    assert scores == sorted(scores, reverse=True) and 0 < scores[0] <= 1
    lines = [r for r in rows if r["type"] == "hotspotLine"]
    assert len(lines) == 30 and all(r["score"] == round(r["heatRaw"] * r["changes"], 2) for r in lines[:1])

    table = list(csv.DictReader(io.StringIO(run("--format", "csv", "--since", "2000-01-01", repo))))
    assert {r["path"] for r in table} == set(files), table[:3]

    sarif = subprocess.run([report, "--format", "sarif", "--rank", "hotspot", "--since", "2000-01-01", repo],
                           capture_output=True, check=True).stdout
    found = [float(r["message"]["text"].split("raw heat ")[1].split(",")[0]) for r in json.loads(sarif)["runs"][0]["results"]]
    assert found == [r["score"] for r in lines], (found, lines)

    none = json.loads(run("--json", tmp).splitlines()[0])
    assert none["history"] == "none" and "not in a git work tree" in none["reason"], none
    text = run("--since", "2000-01-01", repo)
    assert "Hotspot files" in text and "Hotspot lines" in text, text
print("hotspot report: ok")
