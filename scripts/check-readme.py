#!/usr/bin/env python3
"""Runs the commands README.md shows, as written, in a fresh clone of this
repository (HEAD plus uncommitted changes to tracked files), and fails when
one of them fails.

Which commands:
- ```yaml blocks: a GitHub workflow (it has "jobs:") runs each step's `run:`;
  `uses:` steps are stood in for (the clone is the checkout, and a file an
  upload step names must exist), an `if:` other than a pull-request test
  skips its step, as does a `run:` that holds a `${{ }}` expression. A GitLab
  job (it has "script:") runs its script; its Code Quality report must exist.
- ```sh blocks: every line, comments dropped, except in sections about
  Windows (those commands are for MSYS2).
- Inline `code` of at least two words that starts with varnholt-report,
  make, cmake, git or scripts/ (a path to varnholt-report counts too).
  Optional [parts] are dropped; one with a placeholder (FOLDER, FILE:LINE)
  left is skipped, and the desktop program (it needs a display) too.
- `make run`, `make test`, `make bench`, `make windows` and the steps of
  `make test` are only checked to be targets (`make -n`): they are the suite
  itself, need a display, or are long builds the suite already makes.
- `apt-get install` lines are checked with dpkg (every package installed);
  `apt-get update` is not run.

Stand-ins: HOME is an empty folder (for `git config --global`, `~`);
GITHUB_WORKSPACE is the clone; the workflow runs as a pull request whose
base, origin/$GITHUB_BASE_REF, is the clone's HEAD; inline varnholt-report
commands find the program the CI recipe built on the PATH, and run after the
README's build of build/default (`cmake --preset default`) and before the
GitLab job, so its baseline exists.

    scripts/check-readme.py [--list]
"""

import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASE_REF = "varnholt-readme-base"
SUITE_TARGETS = {"run", "test", "bench", "windows"}
COMMAND_WORDS = {"varnholt-report", "make", "cmake", "git"}
PLACEHOLDER = re.compile(r"^[A-Z][A-Z0-9_]*(:[A-Z][A-Z0-9_]*)*$")


def parse(text):
    """(heading, lang, body) for each fenced block and (heading, span) for
    each inline code span outside them, in README order."""
    blocks, spans, heading, prose = [], [], "", []

    def flush():
        paragraph_text = "\n".join(prose)
        for match in re.finditer(r"`((?:[^`\n]|\n(?!\s*\n))+)`", paragraph_text):
            spans.append((heading, " ".join(match.group(1).split())))
        prose.clear()

    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        fence = re.match(r"^\s*```\s*([\w-]*)\s*$", line)
        if fence:
            flush()
            body = []
            i += 1
            while i < len(lines) and not re.match(r"^\s*```\s*$", lines[i]):
                body.append(lines[i])
                i += 1
            blocks.append((heading, fence.group(1).lower(), "\n".join(body)))
        elif line.startswith("#"):
            flush()
            heading = line.lstrip("#").strip()
        else:
            prose.append(line)
        i += 1
    flush()
    return blocks, spans


def shell_lines(body):
    out, pending = [], ""
    for line in body.splitlines():
        line = pending + line
        if line.endswith("\\"):
            pending = line[:-1] + " "
            continue
        pending = ""
        line = re.sub(r"(^|\s)#.*$", "", line).strip()
        if line:
            out.append(line)
    return out


def classify(command):
    """('run' | 'make-n' | 'dpkg' | 'skip', command or reason)."""
    words = command.split()
    if words[0] in ("apt-get", "sudo") or command.startswith("apt-get"):
        return "dpkg", command
    if words[0] == "make" and len(words) > 1 and (words[1] in SUITE_TARGETS or words[1].startswith("test")):
        return "make-n", command
    if words[0] == "make" and len(words) == 1:
        return "make-n", command
    program = words[0].rsplit("/", 1)[-1]
    if program in ("varnholt", "varnholt.exe"):
        return "skip", "the desktop program needs a display"
    written = " ".join(re.sub(r"\[[^\]]*\]", " ", command).split())
    if any(PLACEHOLDER.match(word.strip("'\"")) for word in written.split()[1:]):
        return "skip", "has a placeholder"
    return "run", written


def is_command_span(span):
    words = span.split()
    if len(words) < 2:
        return False
    first = words[0]
    return first in COMMAND_WORDS or first.endswith("/varnholt-report") or first.startswith("scripts/") \
        or first.rsplit("/", 1)[-1] == "varnholt"


class Runner:
    def __init__(self, work, listing):
        self.work = work
        self.tree = os.path.join(work, "tree")
        self.home = os.path.join(work, "home")
        self.listing = listing
        self.ran = self.checked = self.skipped = 0
        self.seen = set()
        self.env = dict(os.environ, HOME=self.home)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "MAKEFLAGS", "MAKELEVEL", "MFLAGS"):
            self.env.pop(key, None)
        # HOME is a stand-in, but the compiler cache and its settings stay the
        # user's: the clone's builds are then mostly cache hits.
        if shutil.which("ccache"):
            cache = subprocess.run(["ccache", "-k", "cache_dir"], capture_output=True, text=True).stdout.strip()
            if cache:
                self.env.setdefault("CCACHE_DIR", cache)
            for conf in ("~/.config/ccache/ccache.conf", "~/.ccache/ccache.conf"):
                if os.path.exists(os.path.expanduser(conf)):
                    self.env.setdefault("CCACHE_CONFIGPATH", os.path.expanduser(conf))
                    break

    def note(self, kind, where, command):
        print(f"readme: {kind:8} [{where}] {command}", flush=True)

    def shell(self, where, command, env=None):
        self.note("run", where, command)
        self.ran += 1
        if self.listing:
            return
        log = os.path.join(self.work, f"command-{self.ran}.log")
        start = time.monotonic()
        with open(log, "wb") as out:
            result = subprocess.run(["bash", "-e", "-c", command], cwd=self.tree, env=env or self.env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, timeout=1800)
        print(f"readme:          {time.monotonic() - start:.1f} s", flush=True)
        if result.returncode != 0:
            with open(log, "rb") as f:
                tail = f.read()[-3000:].decode("utf-8", "replace")
            sys.exit(f"readme: FAIL [{where}] exit {result.returncode}: {command}\n{tail}")

    def packages_installed(self, where, command):
        self.note("dpkg", where, command)
        self.checked += 1
        for part in re.split(r"&&|;", command):
            words = part.split()
            if words[:1] == ["sudo"]:
                words = words[1:]
            if words[:2] != ["apt-get", "install"]:
                continue
            for package in (w for w in words[2:] if not w.startswith("-")):
                status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                                        capture_output=True, text=True).stdout
                if "install ok installed" not in status:
                    sys.exit(f"readme: FAIL [{where}] package {package} is not installed: {command}")

    def make_dry_run(self, where, command):
        self.note("make -n", where, command)
        self.checked += 1
        if self.listing:
            return
        words = shlex.split(command)
        result = subprocess.run(["make", "-n"] + words[1:], cwd=self.tree, env=self.env,
                                capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"readme: FAIL [{where}] not a make target: {command}\n{result.stderr}")

    def command(self, where, command, env=None, once=True):
        kind, text = classify(command)
        if once and (kind, text) in self.seen:  # the prose repeats some commands
            return
        self.seen.add((kind, text))
        if kind == "dpkg":
            self.packages_installed(where, command)
        elif kind == "make-n":
            self.make_dry_run(where, command)
        elif kind == "skip":
            self.skipped += 1
            self.note("skip", where, f"{command}  ({text})")
        else:
            self.shell(where, text, env)

    def expect_file(self, where, path, check):
        self.note("file", where, path)
        self.checked += 1
        if self.listing:
            return
        full = os.path.join(self.tree, path)
        try:
            with open(full, encoding="utf-8") as f:
                data = json.load(f)
        except (OSError, ValueError) as error:
            sys.exit(f"readme: FAIL [{where}] {path}: {error}")
        if not check(data):
            sys.exit(f"readme: FAIL [{where}] {path} is not what the next step takes")

    def github(self, workflow):
        where = "GitHub"
        env = dict(self.env, GITHUB_WORKSPACE=self.tree, GITHUB_BASE_REF=BASE_REF,
                   GITHUB_EVENT_NAME="pull_request")
        for job in workflow["jobs"].values():
            for step in job.get("steps", []):
                condition = str(step.get("if", "")).replace(" ", "")
                if condition and condition != "github.event_name=='pull_request'":
                    self.skipped += 1
                    self.note("skip", where, f"{step}  (condition {condition})")
                    continue
                if "uses" in step:
                    sarif = (step.get("with") or {}).get("sarif_file")
                    if sarif:  # the upload needs a SARIF 2.1.0 log
                        self.expect_file(where, sarif, lambda d: d.get("version") == "2.1.0" and "runs" in d)
                    continue
                for command in shell_lines(step.get("run", "")):
                    if "${{" in command:
                        self.skipped += 1
                        self.note("skip", where, f"{command}  (needs GitHub's context)")
                    else:
                        self.command(where, command, env, once=False)

    def gitlab(self, config):
        for name, job in config.items():
            if not isinstance(job, dict) or "script" not in job:
                continue
            for command in job["script"]:
                self.command(f"GitLab {name}", command, once=False)
            report = ((job.get("artifacts") or {}).get("reports") or {}).get("codequality")
            if report:
                self.expect_file(f"GitLab {name}", report, lambda d: isinstance(d, list))


def main():
    listing = "--list" in sys.argv[1:]
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        blocks, spans = parse(f.read())
    workflows, jobs, sh = [], [], []
    for heading, lang, body in blocks:
        if lang in ("yaml", "yml"):
            data = yaml.safe_load(body)
            (workflows if "jobs" in data else jobs).append(data)
        elif lang in ("sh", "bash", "shell", "console"):
            sh.append((heading, body))
    inline = [(heading, span) for heading, span in spans if is_command_span(span)]
    if not workflows or not jobs:
        sys.exit("readme: FAIL the README shows no GitHub workflow or no GitLab job")

    # A fixed place: the clone's compile commands repeat exactly, so the
    # next run's builds are ccache hits. Made afresh on every run.
    work = os.path.join(ROOT, "build", "readme-check")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    runner = Runner(work, listing)
    os.mkdir(runner.home)
    if not listing:
        head = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True,
                              text=True, check=True).stdout.strip()
        subprocess.run(["git", "clone", "--quiet", "--no-checkout", ROOT, runner.tree], check=True)
        subprocess.run(["git", "-C", runner.tree, "checkout", "--quiet", "--detach", head], check=True)
        diff = subprocess.run(["git", "-C", ROOT, "diff", "HEAD", "--binary"], capture_output=True,
                              check=True).stdout
        if diff:
            subprocess.run(["git", "-C", runner.tree, "apply", "--whitespace=nowarn"], input=diff, check=True)
        subprocess.run(["git", "-C", runner.tree, "update-ref", f"refs/remotes/origin/{BASE_REF}", head],
                       check=True)

    for workflow in workflows:
        runner.github(workflow)
    for heading, body in sh:
        if "windows" in heading.lower():
            for command in shell_lines(body):
                runner.skipped += 1
                runner.note("skip", heading, f"{command}  (for Windows)")
            continue
        for command in shell_lines(body):
            runner.command(heading, command)
    # Inline commands find the report the CI recipe built; paths into
    # build/default need the README's own build.
    if any("build/default/" in span for _, span in inline):
        runner.shell("build", "cmake --preset default >/dev/null && "
                     "cmake --build --preset default --target varnholt-report >/dev/null")
    cli = os.path.join(runner.tree, "build", "ci", "src", "cli")
    inline_env = dict(runner.env, PATH=cli + os.pathsep + runner.env.get("PATH", ""))
    for heading, span in inline:
        runner.command(heading, span, inline_env)
    for job in jobs:
        runner.gitlab(job)
    print(f"readme: {runner.ran} commands ran, {runner.checked} checked, {runner.skipped} skipped")


if __name__ == "__main__":
    main()
