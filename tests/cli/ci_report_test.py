"""varnholt-report in CI: the report formats, the gate and its baseline,
--changed-since, and bad input. Usage: ci_report_test.py VARNHOLT_REPORT"""

import collections, csv, io, json, os, shutil, subprocess, sys, tempfile, unittest
import xml.etree.ElementTree as ET

REPORT = None
MULTITOOL = os.path.join(os.path.dirname(__file__), "sarif", "node_modules", "@microsoft",
                         "sarif-multitool-linux", "Sarif.Multitool")
HOT = "    if (a && b || c && !d) { x = y ? p[i] * q : r; }\n"
BODY = ("int f(int a) {\n" + HOT + "    while (n-- > 0 && m[n] != k) { s += t[n] << 2; }\n"
        "    for (i = 0; i < n && !done; i++) { done = v[i] == w; }\n  return a;\n}\n")
HOTTER = "    if (a && b || c && !d && e || f) { x = y ? p[i] * q[j] - k : r; }\n"
COOLER = "    if (a && b) { x = y; }\n"


def run(*args, cwd=None):
    return subprocess.run([REPORT, *args], capture_output=True, text=True, cwd=cwd)


class CiReport(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="varnholt_ci_")
        self.write("src/hot.c", BODY)
        self.write("odd dir/100%,x.py", "def g(a):\n    return a if a and not a.b else [c for c in a]\n")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, rel, text):
        path = os.path.join(self.dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def ok(self, *args):
        r = run(*args, self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def test_formats_list_the_audits_lines_in_their_documented_shape(self):
        audit = json.loads(self.ok("--json").splitlines()[1])["items"]
        expected = {(os.path.relpath(i["path"], self.dir), i["lineStart"]) for i in audit if i["cv"] > 0}
        self.assertGreaterEqual(len(expected), 5)

        sarif = json.loads(self.ok("--format", "sarif"))
        run0 = sarif["runs"][0]
        self.assertEqual(sarif["version"], "2.1.0")
        self.assertTrue({"name", "version", "informationUri", "rules"} <= run0["tool"]["driver"].keys())
        got = {(r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"].replace("%20", " ")
                .replace("%25", "%").replace("%2C", ","),
                r["locations"][0]["physicalLocation"]["region"]["startLine"]) for r in run0["results"]}
        self.assertEqual(got, expected)

        quality = json.loads(self.ok("--format", "codeclimate"))
        self.assertEqual({(i["location"]["path"], i["location"]["lines"]["begin"]) for i in quality}, expected)
        self.assertEqual(len({i["fingerprint"] for i in quality}), len(quality))
        for issue in quality:
            self.assertIn(issue["severity"], {"info", "minor", "major", "critical", "blocker"})
            self.assertTrue(issue["description"] and issue["check_name"])

        root = ET.fromstring(self.ok("--format", "checkstyle"))
        self.assertEqual(root.tag, "checkstyle")
        errors = {(f.get("name"), int(e.get("line"))) for f in root for e in f}
        self.assertEqual(errors, expected)
        for e in root.iter("error"):
            self.assertIn(e.get("severity"), {"error", "warning", "info"})
            self.assertTrue(e.get("message") and e.get("source"))

        rows = list(csv.DictReader(io.StringIO(self.ok("--format", "csv"), newline="")))
        self.assertEqual({(r["path"], int(r["line"])) for r in rows}, expected)
        by_file = list(csv.DictReader(io.StringIO(self.ok("--format", "csv", "--by-file"), newline="")))
        self.assertEqual({r["path"]: int(r["findings"]) for r in by_file}, collections.Counter(r["path"] for r in rows))

        hottest = max(float(r["heat_raw"]) for r in rows)
        self.assertEqual(len(json.loads(self.ok("--format", "codeclimate", "--min-heat", str(hottest)))), 1)
        self.assertEqual(len(json.loads(self.ok("--format", "codeclimate", "--max-findings", "2"))), 2)

    def test_sarif_passes_the_multitool_with_the_github_rules(self):
        self.assertTrue(os.path.exists(MULTITOOL), "no SARIF multitool: run scripts/install-deps.sh")
        self.write("big.c", HOT * 25010)
        sarif = json.loads(self.ok("--format", "sarif", "--max-findings", "30000"))
        self.assertEqual(len(sarif["runs"][0]["results"]), 25000)
        note = sarif["runs"][0]["invocations"][0]["toolExecutionNotifications"][0]
        self.assertIn("25000 hottest of 250", note["message"]["text"])
        for args in (["--max-findings", "200"],):
            path = os.path.join(self.dir, "out.sarif")
            with open(path, "w") as f:
                f.write(self.ok("--format", "sarif", *args))
            log = os.path.join(self.dir, "log.sarif")
            r = subprocess.run([MULTITOOL, "validate", "--rule-kind", "Sarif;Gh", "-o", log, path],
                               capture_output=True, text=True, env=dict(os.environ, DOTNET_CLI_TELEMETRY_OPTOUT="1"))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            with open(log, encoding="utf-8-sig") as f:
                problems = [res["message"] for run_ in json.load(f)["runs"] for res in run_.get("results", [])
                            if res.get("level", "warning") in ("error", "warning")]
            self.assertEqual(problems, [])
            os.remove(path)
            os.remove(log)

    def test_gate_and_baseline(self):
        hottest = max(float(r["heat_raw"]) for r in csv.DictReader(io.StringIO(self.ok("--format", "csv"))))
        self.assertEqual(run("--fail-above", str(hottest - 0.01), self.dir).returncode, 3)
        self.ok("--fail-above", str(hottest + 0.01))

        base = self.dir + ".baseline"
        self.addCleanup(os.remove, base)
        self.ok("--write-baseline", base)
        with open(base) as f, open(base + ".crlf", "w", newline="\r\n") as crlf:
            crlf.write(f.read())  # as a Windows checkout may leave it
        self.addCleanup(os.remove, base + ".crlf")
        self.ok("--baseline", base + ".crlf")
        fingerprints = lambda: sorted(i["fingerprint"] for i in json.loads(self.ok("--format", "codeclimate")))
        before = fingerprints()
        body = BODY
        cases = [("moved", "\n\n/* new */\n" + body, 0, ""),
                 ("cooler", body.replace(HOT, COOLER, 1), 0, ""),
                 ("deleted", body.replace(HOT, "", 1), 0, ""),
                 ("hotter", body.replace(HOT, HOTTER, 1), 3, "hotter line src/hot.c:2"),
                 ("new", body + "int h(int a) {\n" + HOT + "}\n", 3, "new hot line src/hot.c:8")]
        for name, text, code, message in cases:
            with self.subTest(name):
                self.write("src/hot.c", text)
                r = run("--baseline", base, self.dir)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(message, r.stderr)
                if name == "moved":
                    self.assertEqual(fingerprints(), before)

    def test_changed_since_takes_only_lines_changed_in_git(self):
        git = lambda *a: subprocess.run(["git", "-C", self.dir, "-c", "user.name=t", "-c", "user.email=t@t",
                                         *a], check=True, capture_output=True)
        self.assertEqual(run("--changed-since", "HEAD", self.dir).returncode, 2)
        git("init", "-q")
        git("add", ".")
        git("commit", "-qm", "one")
        self.write("src/hot.c", BODY.replace(BODY.splitlines(True)[2], COOLER))
        self.write("new.c", HOT)
        self.write("odd dir/100%,x.py", "def g(a):\n    return [b for b in a if b and not b.c or b.d]\n")
        got = {(r["path"], r["line"]) for r in csv.DictReader(io.StringIO(self.ok("--format", "csv", "--changed-since", "HEAD")))}
        self.assertEqual(got, {("src/hot.c", "3"), ("new.c", "1"), ("odd dir/100%,x.py", "2")})
        r = run("--changed-since", "no-such-rev", self.dir)
        self.assertEqual((r.returncode, r.stderr.count("\n")), (2, 1), r.stderr)
        self.assertIn("unknown revision", r.stderr)

    def test_bad_input_is_one_line_and_exit_2(self):
        self.ok("--write-baseline", os.path.join(self.dir, "good"))
        with open(os.path.join(self.dir, "good")) as f:
            good = f.read()
        variants = {"cut": good[: good.rindex("end")], "other-version": good.replace("version 0.", "version 9.", 1),
                    "other-tool": '{"version":"2.1.0","runs":[]}\n', "bad-heat": good.replace(" ", " x", 3)}
        for name, text in variants.items():
            with open(os.path.join(self.dir, name), "w") as f:
                f.write(text)
        cases = [["--format", "xml"], ["--format", "sarif", "--json"], ["--by-file"], ["--max-findings", "x"],
                 ["--min-heat", "-1"], ["--fail-above", "nan"], ["--baseline", os.path.join(self.dir, "missing")]]
        cases += [["--baseline", os.path.join(self.dir, name)] for name in variants]
        for args in cases:
            with self.subTest(args=args):
                r = run(*args, self.dir)
                self.assertEqual((r.returncode, r.stdout, r.stderr.count("\n")), (2, "", 1), r.stderr)


if __name__ == "__main__":
    REPORT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
