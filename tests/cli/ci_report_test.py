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
        # Two new lines in a file whose recorded lines all still match; a
        # long name, so that its baseline field is not kept in the string.
        self.write("src/hot.c", body)
        self.write("src/a_file_with_a_long_name.c", body)
        self.ok("--write-baseline", base)
        self.write("src/a_file_with_a_long_name.c", body + "int h(int a) {\n" + HOT + HOT + "}\n")
        r = run("--baseline", base, self.dir)
        self.assertEqual(r.returncode, 3, r.stderr)
        self.assertIn("new hot line src/a_file_with_a_long_name.c:8", r.stderr)
        self.assertIn("new hot line src/a_file_with_a_long_name.c:9", r.stderr)

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


class GateSoundness(unittest.TestCase):
    """Runs that must not pass, or leak, by mistake."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="varnholt_gate_")
        self.src = os.path.join(self.dir, "src")
        self.write("hot.c", BODY)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, rel, text, mode="w"):
        path = os.path.join(self.src, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, mode) as f:
            f.write(text)

    def git(self, *a):
        subprocess.run(["git", "-C", self.src, "-c", "user.name=t", "-c", "user.email=t@t", *a],
                       check=True, capture_output=True)

    def commit_all(self):
        self.git("init", "-q")
        self.git("add", "-A")
        self.git("commit", "-qm", "one")

    def changed(self, *args):
        r = run("--format", "csv", "--changed-since", "HEAD", *args, self.src)
        self.assertEqual(r.returncode, 0, r.stderr)
        return {(row["path"], int(row["line"])) for row in csv.DictReader(io.StringIO(r.stdout))}

    def test_failed_writes_fail_the_run(self):
        folder = os.path.join(self.dir, "B")
        os.mkdir(folder)
        r = run("--write-baseline", folder, self.src)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertTrue(os.path.isdir(folder))
        # Neither a link nor a folder at the old temporary name is touched.
        precious = os.path.join(self.dir, "precious")
        with open(precious, "w") as f:
            f.write("keep\n")
        target = os.path.join(self.dir, "c")
        os.symlink(precious, target + ".tmp")
        os.mkdir(os.path.join(self.dir, "d.tmp"))
        self.assertEqual(run("--write-baseline", target, self.src).returncode, 0)
        self.assertEqual(run("--write-baseline", os.path.join(self.dir, "d"), self.src).returncode, 0)
        with open(precious) as f:
            self.assertEqual(f.read(), "keep\n")
        self.assertFalse(os.path.islink(target))
        self.assertTrue(os.path.isdir(os.path.join(self.dir, "d.tmp")))
        self.assertEqual(run("--baseline", target, self.src).returncode, 0)
        self.assertEqual(sorted(os.listdir(self.dir)), ["B", "c", "c.tmp", "d", "d.tmp", "precious", "src"])
        for args in (["--format", "sarif"], ["--format", "codeclimate"], ["--format", "checkstyle"],
                     ["--format", "csv"], []):
            with self.subTest(args=args), open("/dev/full", "w") as full:
                r = subprocess.run([REPORT, *args, self.src], stdout=full, stderr=subprocess.PIPE, text=True)
                self.assertEqual(r.returncode, 1, r.stderr)

    def test_changed_lines_survive_odd_diffs_and_names(self):
        lines = BODY.splitlines(True)
        self.write("odd.c", "".join(lines))
        self.write("a\\b.c", "int f(void) { return 0; }\n")
        self.commit_all()
        # An added "++ i;" shows as "+++ i;", "++ b/hot.c" as "+++ b/hot.c".
        edited = lines[:1] + ["++ i;\n", "++ b/hot.c\n"] + lines[1:5] + [HOTTER] + lines[5:]
        self.write("odd.c", "".join(edited))
        self.write("a\\b.c", "int f(void) { return 0; }\n" + HOT)
        got = self.changed()
        self.assertIn(("odd.c", 8), got)
        self.assertIn(("a\\b.c", 2), got)
        self.assertFalse({p for p, _ in got} - {"odd.c", "a\\b.c"}, got)
        r = run("--changed-since", "HEAD", "--fail-above", "1", self.src)
        self.assertEqual(r.returncode, 3, r.stderr)
        # Text that git takes for binary still has its lines compared.
        self.write(".gitattributes", "*.c -diff\n")
        self.git("add", "-A")
        self.git("commit", "-qm", "two")
        self.write("hot.c", BODY + HOT)
        self.assertEqual(self.changed(), {("hot.c", 7)})
        # An untracked repository inside counts as untracked files.
        self.write("inner/new.c", HOT)
        subprocess.run(["git", "-C", os.path.join(self.src, "inner"), "init", "-q"], check=True)
        self.assertIn(("inner/new.c", 1), self.changed())

    def test_ci_formats_stay_valid_and_inside_the_folder(self):
        names = [b"=cmd|' -C calc'!A0.c", b"@sum.c", b"caf\xe9.c", "tab\there\ufffe\uffff.c".encode()]
        for name in names:
            with open(os.path.join(self.src.encode(), name), "wb") as f:
                f.write(HOT.encode())
        r = subprocess.run([REPORT, "--format", "csv", self.src], capture_output=True)
        rows = list(csv.DictReader(io.StringIO(r.stdout.decode("utf-8"), newline="")))
        paths = {row["path"] for row in rows}
        self.assertTrue({"'=cmd|' -C calc'!A0.c", "'@sum.c", "caf\ufffd.c"} <= paths, paths)
        by_file = subprocess.run([REPORT, "--format", "csv", "--by-file", self.src], capture_output=True)
        self.assertIn("'@sum.c", by_file.stdout.decode("utf-8"))
        root = ET.fromstring(self.ok("--format", "checkstyle"))
        self.assertIn("tab\there\ufffd\ufffd.c", {f.get("name") for f in root})
        # A committed link to a folder outside: its lines stay out of CI logs.
        outside = os.path.join(self.dir, "outside")
        os.mkdir(outside)
        with open(os.path.join(outside, "secret.c"), "w") as f:
            f.write("int s(void) { if (a && b || c) { return key ? p[i] * q : r; } }\n")
        os.symlink(outside, os.path.join(self.src, "linked"))
        for fmt in ("sarif", "codeclimate", "checkstyle", "csv"):
            self.assertNotIn("secret", self.ok("--format", fmt))
        plain = subprocess.run([REPORT, self.src], capture_output=True).stdout
        self.assertIn(b"secret", plain)  # the plain report follows links as before

    def ok(self, *args):
        r = run(*args, self.src)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def test_baseline_tolerates_drift_and_fails_on_new_heat(self):
        funcs = "".join(f"def f{k}(a, b):\n    if a and b or not a.c and b.d[{k}] > 2:\n"
                        f"        return [x * {k} for x in a if x and not x.y or x.z]\n    return b\n"
                        for k in range(6))
        os.remove(os.path.join(self.src, "hot.c"))
        self.write("m.py", funcs)
        base = os.path.join(self.dir, "base")
        self.ok("--write-baseline", base, "--max-findings", "12")
        with open(base) as f:
            text = f.read()
        with open(base + ".nan", "w") as f:
            f.write(text.replace(text.splitlines()[2].split()[1], "nan", 1))
        self.assertEqual(run("--baseline", base + ".nan", self.src).returncode, 2)
        # A plain line added to a function shifts the heat of its other lines.
        self.write("m.py", funcs.replace("def f5(a, b):\n", "def f5(a, b):\n    n = 1\n"))
        self.ok("--baseline", base, "--max-findings", "12")
        self.ok("--baseline", base, "--max-findings", "12", "--fail-above", "10")
        r = run("--baseline", base, "--max-findings", "12", "--tolerance", "0,0", self.src)
        self.assertEqual(r.returncode, 3)
        self.assertRegex(r.stderr, r"raw heat \d+\.\d\d, was \d+\.\d\d\n")
        self.write("m.py", "def g(a):\n    return [x * 9 for x in a if x and not x.y or x.z or a.b]\n", "a")
        for extra in ([], ["--fail-above", "10"]):
            r = run("--baseline", base, "--max-findings", "12", *extra, self.src)
            self.assertEqual(r.returncode, 3, r.stderr)
            self.assertIn("new hot line m.py:27", r.stderr)
        self.ok("--baseline", base, "--max-findings", "12", "--fail-above", "5000")

    def test_messages_name_the_real_failure(self):
        self.write("wide.py", "x = '" + "\u00e9" * 200 + "'\n")
        r = run("--explain", os.path.join(self.src, "wide.py") + ":1")
        self.assertEqual(r.returncode, 0, r.stderr)  # text=True: fails on a cut character
        r = run("--explain", self.src + ":1")
        self.assertEqual(r.returncode, 1)
        self.assertIn("is a folder", r.stderr)
        r = run("--baseline", self.dir, self.src)
        self.assertEqual(r.returncode, 2)
        self.assertIn("is a folder", r.stderr)
        if os.geteuid() == 0:  # a repository of another owner needs root to make
            self.commit_all()
            for top, dirs, files in os.walk(self.src):
                for name in [top] + [os.path.join(top, n) for n in dirs + files]:
                    os.lchown(name, 65534, 65534)
            r = run("--changed-since", "HEAD", self.src)
            self.assertEqual(r.returncode, 2)
            self.assertIn("another user", r.stderr)

    def test_text_report_keeps_to_the_changes(self):
        self.write("other.c", BODY)
        self.commit_all()
        self.write("hot.c", BODY + "int h(int a) {\n" + HOTTER + "}\n")
        out = self.ok("--changed-since", "HEAD")
        self.assertIn("hot.c:8", out)
        self.assertNotIn("other.c", out)
        self.assertNotIn("hot.c:2\n", out)


if __name__ == "__main__":
    REPORT = os.path.abspath(sys.argv.pop(1))
    unittest.main()
