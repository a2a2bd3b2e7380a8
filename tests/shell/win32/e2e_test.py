#!/usr/bin/env python3
"""End-to-end test of the Windows program under Wine.

Runs the real varnholt.exe with the stand-in WebView2Loader.dll (which plays
the page from a script and logs what the program does with the view), and
without any loader. Needs an X display (run it under xvfb-run) and xdotool.

    python3 e2e_test.py BUILD_DIR      # BUILD_DIR: the mingw preset's build
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.normpath(os.path.join(HERE, "..", "..", "..", "scripts", "wine-run"))
FALLBACK_PAGE = (
    "<!doctype html><html><head><meta charset='utf-8'/><title>Varnholt</title></head>"
    "<body style='font-family:system-ui'><h3>Varnholt UI file missing</h3>"
    "<p>Expected <code>VarnholtUI.html</code> next to the executable.</p></body></html>")
RUN_TIMEOUT = 120

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("  FAIL: " + what)
    return condition


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Run:
    """One start of the program in its own folder."""

    def __init__(self, build, name, loader=True, page=None):
        self.dir = tempfile.mkdtemp(prefix="varnholt-e2e-%s-" % name)
        self.app = os.path.join(self.dir, "app")
        os.makedirs(self.app)
        shutil.copy(os.path.join(build, "src", "shell", "win32", "varnholt.exe"), self.app)
        if loader:
            shutil.copy(os.path.join(build, "tests", "shell", "win32", "fake_webview2",
                                     "WebView2Loader.dll"), self.app)
        if page is not None:
            with open(os.path.join(self.app, "VarnholtUI.html"), "wb") as f:
                f.write(page)
        self.log = os.path.join(self.dir, "log.jsonl")
        self.script = os.path.join(self.dir, "script.txt")
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = os.path.join(build, "wine-e2e")
        self.env["VARNHOLT_FAKE_WEBVIEW2_LOG"] = windows_path(self.log)
        self.env["VARNHOLT_FAKE_WEBVIEW2_SCRIPT"] = windows_path(self.script)
        self.process = None

    def write_script(self, lines):
        with open(self.script, "w", newline="\n") as f:
            f.write("\n".join(lines) + "\n")

    def start(self, *arguments):
        self.process = subprocess.Popen(
            [WINE_RUN, os.path.join(self.app, "varnholt.exe")] + list(arguments),
            cwd=self.app, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, timeout=RUN_TIMEOUT):
        """Exit code (None when it had to be killed) and stderr as text."""
        try:
            _, err = self.process.communicate(timeout=timeout)
            code = self.process.returncode
        except subprocess.TimeoutExpired:
            self.process.kill()
            _, err = self.process.communicate()
            code = None
        return code, err.decode("utf-8", "replace")

    def events(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def index_of(events, predicate, start=0):
    for i in range(start, len(events)):
        if predicate(events[i]):
            return i
    return -1


def posts(events, message_type, start=0, end=None):
    end = len(events) if end is None else end
    found = []
    for i in range(start, end):
        if events[i]["event"] == "post":
            message = json.loads(events[i]["json"])
            if message.get("type") == message_type:
                found.append((i, message))
    return found


def check_no_misuse(events):
    for bad in ("wrong-thread", "over-release", "unexpected-call", "script-timeout",
                "bad-step", "no-script"):
        hits = [e for e in events if e["event"] == bad]
        check(not hits, "no %s events (got %s)" % (bad, hits[:3]))


def find_window(timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        out = subprocess.run(["xdotool", "search", "--name", "^Varnholt$"],
                             capture_output=True, text=True).stdout.split()
        if out:
            return out[0]
        time.sleep(0.3)
    return None


def window_size(window):
    out = subprocess.run(["xdotool", "getwindowgeometry", window],
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        if "Geometry:" in line:
            w, h = line.split("Geometry:")[1].strip().split("x")
            return int(w), int(h)
    return None


def visible_windows(title_pattern):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_pattern],
                          capture_output=True, text=True).stdout.split()


class DialogAnswerer(threading.Thread):
    """Answers the program's modal dialogs in order, as a user would: types a
    text (or nothing) and presses a key; then touches `done` (a file the
    page script may wait for)."""

    def __init__(self, plan):
        super().__init__(daemon=True)
        self.plan = plan  # (title, text or None, key, done path or None)
        self.answered = []

    def run(self):
        for title, text, key, done in self.plan:
            deadline = time.time() + 90
            found = []
            while time.time() < deadline and not found:
                found = visible_windows("^%s$" % title)
                time.sleep(0.2)
            if not found:
                return
            time.sleep(0.5)  # let the dialog settle before typing into it
            subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], capture_output=True)
            if text:
                subprocess.run(["xdotool", "type", "--delay", "15", text], capture_output=True)
            subprocess.run(["xdotool", "key", key], capture_output=True)
            deadline = time.time() + 20
            while time.time() < deadline and found[0] in visible_windows("^%s$" % title):
                time.sleep(0.2)
            if done:
                open(done, "w").close()
            self.answered.append(title)


def close_window(window):
    """As a user does: Alt+F4 on the focused window."""
    subprocess.run(["xdotool", "windowfocus", "--sync", window], capture_output=True)
    subprocess.run(["xdotool", "key", "alt+F4"], capture_output=True)


# ----------------------------------------------------------------- scenarios

PROJECT_FILES = {
    "main.c": "#include <stdio.h>\n\nint main(void) {\n  for (int i = 0; i < 3; i++) {\n"
              "    if (i % 2 == 0) printf(\"%d\\n\", i);\n  }\n  return 0;\n}\n",
    os.path.join("lib", "util.py"): "def pick(xs):\n    for x in xs:\n        if x > 2 and x < 9:\n"
                                    "            return x\n    return None\n",
}
PAGE = "\ufeff<!doctype html><html><body>page \u00e9\u20ac</body></html>\n"


def make_project(root):
    for relative, text in PROJECT_FILES.items():
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="\n") as f:
            f.write(text)


def scenario_session(build):
    """The page's whole session: ready, project, file, audit, an edit, quit."""
    print("session with a project folder")
    run = Run(build, "session", page=PAGE.encode("utf-8"))
    project = os.path.join(run.dir, "proj")
    make_project(project)
    edited = os.path.join(project, "main.c")
    other = os.path.join(run.dir, "other")
    os.makedirs(other)
    with open(os.path.join(other, "tool.go"), "w") as f:
        f.write("package main\n\nfunc main() {\n\tfor i := 0; i < 3; i++ {\n\t}\n}\n")
    shots = os.path.join(run.dir, "shots")
    os.makedirs(shots)
    png = b"\x89PNG\r\n\x1a\n" + bytes(range(256))
    cancelled = os.path.join(run.dir, "picker-cancelled")

    def b64(data):
        return base64.b64encode(data).decode("ascii")

    run.write_script([
        "send {\"type\":\"uiReady\"}",
        "wait setProject 60000",
        "select-first-file",
        "wait setCode",
        "send {\"type\":\"requestAudit\"}",
        "wait setAudit",
        "send {\"type\":\"savePng\",\"png_b64\":\"\"}",
        "send {\"type\":\"savePng\",\"png_b64\":\"%s\",\"name_b64\":\"%s\"}"
        % (b64(png), b64(windows_path(os.path.join(shots, "snap")).encode("utf-8"))),
        "resize 1000 700",
        "sizemove 900 600",
        "move 40 30",
        "append %s int more(void) {\\n  return 1;\\n}\\n" % windows_path(edited),
        "wait setProject 30000",
        "mark pick-cancel",
        "send {\"type\":\"pickFolder\"}",
        "wait-file %s 90000" % windows_path(cancelled),
        "sleep 1500",
        "send {\"type\":\"requestAudit\"}",
        "wait setAudit",
        "mark pick-other",
        "send {\"type\":\"pickFolder\"}",
        "wait setProject 90000",
        "send {\"type\":\"quitApp\"}",
    ])
    answerer = DialogAnswerer([
        ("Save", None, "Return", None),
        ("Select Folder", None, "Escape", cancelled),
        ("Select Folder", windows_path(other), "Return", None),
    ])
    run.start("--trace", windows_path(project))
    answerer.start()
    code, trace = run.finish()
    answerer.join(timeout=5)
    check(answerer.answered == ["Save", "Select Folder", "Select Folder"],
          "the save dialog and the folder picker (twice) were shown (got %s)" % answerer.answered)
    events = run.events()
    names = [e["event"] for e in events]
    check(code == 0, "quitApp ends the process with exit code 0 (got %s)" % code)
    check("script-done" in names, "the page's script ran to its end")
    check_no_misuse(events)

    created = next((e for e in events if e["event"] == "create-environment"), None)
    if check(created is not None, "the environment was requested"):
        check(created["browserFolderNull"] == 1 and created["userDataFolderNull"] == 1 and
              created["optionsNull"] == 1, "environment requested with the runtime's defaults")
        check(created["sta"] == 1, "the UI thread is a single-threaded apartment")

    windows = next((e for e in events if e["event"] == "windows"), None)
    if check(windows is not None, "the view was created in a window"):
        check(windows["hostClass"] == "VarnholtWebHost", "view parent is the host window")
        check(windows["mainClass"] == "VarnholtMain" and windows["mainTitle"] == "Varnholt",
              "main window class and title")
        check((windows["mainWidth"], windows["mainHeight"]) == (1400, 860),
              "main window is 1400 x 860 (got %s x %s)" %
              (windows["mainWidth"], windows["mainHeight"]))
        check(windows["mainOverlapped"] == 1, "main window is WS_OVERLAPPEDWINDOW")
        check(windows["mainClassStyle"] == 3, "main class style CS_HREDRAW | CS_VREDRAW")
        check(windows["iconWidth"] == 32 and windows["smallIconWidth"] == 16,
              "class icons from the resources, 32 and 16 pixels")
        check(windows["hostChildStyle"] == 1, "host is a clipping child window")
        check(windows["hostEraseResult"] == 1, "host never erases its background")

    settings = [(e["name"], e["value"]) for e in events if e["event"] == "setting"]
    check(settings == [("AreDefaultContextMenusEnabled", 0), ("AreDevToolsEnabled", 1),
                       ("IsZoomControlEnabled", 0)], "view settings (got %s)" % settings)
    # What the controller callback does, in order.
    handed = index_of(events, lambda e: e["event"] == "handler-probe" and
                      e["kind"] == "controller-completed")
    setup = [e["event"] if e["event"] != "add-handler" else "add " + e["kind"]
             for e in events[handed + 1:]
             if e["event"] in ("setting", "bounds", "add-handler", "navigate", "post")][:7]
    check(handed >= 0 and setup == ["setting"] * 3 + [
        "bounds", "add web-message", "add navigation-completed", "navigate"],
          "the new view gets its settings, bounds, both handlers, then the page (got %s)" % setup)

    probes = [e for e in events if e["event"] == "handler-probe"]
    check(len(probes) == 4, "four callback objects were handed over (got %d)" % len(probes))
    for probe in probes:
        check(probe["unknown"] == 1 and probe["own"] == 1 and probe["otherRejected"] == 1 and
              probe["otherNulled"] == 1,
              "%s handler answers IUnknown and its own interface only" % probe["kind"])
    released = {e["kind"]: e["left"] for e in events if e["event"] == "handler-released"}
    check(released == {"environment-completed": 0, "controller-completed": 0,
                       "web-message": 0, "navigation-completed": 0},
          "the program keeps no reference to its handed-over callbacks (got %s)" % released)

    navigate = index_of(events, lambda e: e["event"] == "navigate")
    if check(navigate >= 0, "the page text was navigated to"):
        check(events[navigate]["html"] == PAGE, "page file read as UTF-8 with its BOM kept")
        check(events[navigate]["firstUnit"] == 0xFEFF, "U+FEFF first")
        first_post = index_of(events, lambda e: e["event"] == "post")
        check(first_post > navigate, "nothing is posted before the page text")
    shown = index_of(events, lambda e: e["event"] == "visible" and e["value"] == 1)
    check(0 <= shown < index_of(events, lambda e: e["event"] == "script-start"),
          "the view is made visible when the navigation completes")

    bounds = [e for e in events if e["event"] == "bounds"]
    check(bool(bounds) and all((b["right"], b["bottom"]) == (b["hostRight"], b["hostBottom"])
                               for b in bounds), "view bounds always equal the host's client area")
    check(bool(bounds) and bounds[0]["right"] > 1000 and bounds[0]["bottom"] > 600,
          "view fills the window at start")

    # Interactive move/size: hidden at the start, no work inside, one
    # resize and notification at the end.
    enter = index_of(events, lambda e: e["event"] == "step" and e["line"].startswith("sizemove"))
    inside = index_of(events, lambda e: e["event"] == "inside-sizemove")
    if check(enter >= 0 and inside > enter, "the move/size loop was played"):
        during = [e["event"] for e in events[enter + 1:inside]]
        check(during == ["visible"] and events[enter + 1]["value"] == 0,
              "inside a move/size loop the view is hidden and neither resized nor notified "
              "(got %s)" % during)
        after = [e["event"] for e in events[inside + 1:inside + 4]]
        check(after == ["bounds", "visible", "notify-moved"],
              "at its end the view is resized, shown, then notified (got %s)" % after)
        check(events[inside + 1]["hostVisible"] == 0, "resized before the host is shown again")
    moved = index_of(events, lambda e: e["event"] == "step" and e["line"].startswith("move"))
    check(moved >= 0 and events[moved + 1]["event"] == "notify-moved",
          "moving the window notifies the view")

    # The protocol as the page sees it.
    projects = posts(events, "setProject")
    if check(projects, "a project message arrived"):
        first = projects[0][1]
        names = sorted(f["name"] for f in first["files"])
        check(names == ["main.c", "util.py"], "project lists the folder's files (got %s)" % names)
        check(all(f["path"].startswith(windows_path(project)) for f in first["files"]),
              "project paths are full Windows paths below the folder")
        check(first["totalLOC"] > 0, "project has a line total")
    selected = next((e["path"] for e in events if e["event"] == "selected"), None)
    codes = posts(events, "setCode", start=index_of(events, lambda e: e["event"] == "selected"))
    if check(selected and codes, "a code message answered selectFile"):
        code_message = codes[0][1]
        check(code_message["path"] == selected, "code message is for the selected file")
        relative = os.path.relpath(selected[2:].replace("\\", "/"), project)
        text = base64.b64decode(code_message["code_b64"]).decode("utf-8")
        check(text == PROJECT_FILES[relative], "code message carries the file's text")
        check(len(code_message["lineHeat"]) == text.count("\n") + 1, "one heat value per line")
    audits = posts(events, "setAudit")
    if check(audits, "an audit message answered requestAudit"):
        items = audits[0][1]["items"]
        check(0 < len(items) <= 30, "audit lists hot lines")
        check(all(i["path"].startswith(windows_path(project)) for i in items),
              "audit lines belong to the project")

    edit = index_of(events, lambda e: e["event"] == "appended")
    check(edit >= 0 and events[edit]["ok"] == 1, "the file was edited")
    cancel = index_of(events, lambda e: e["event"] == "mark" and e["name"] == "pick-cancel")
    rescans = posts(events, "setProject", edit, cancel) if 0 <= edit < cancel else []
    if check(rescans, "a new project message followed the edit"):
        check(rescans[-1][1]["totalLOC"] == projects[0][1]["totalLOC"] + 3,
              "the rescan counted the three added lines (%s -> %s)" %
              (projects[0][1]["totalLOC"], rescans[-1][1]["totalLOC"]))

    saved = sorted(os.listdir(shots))
    check(saved == ["snap.png"], "the snapshot was saved with .png added (got %s)" % saved)
    if saved == ["snap.png"]:
        with open(os.path.join(shots, "snap.png"), "rb") as f:
            check(f.read() == png, "the snapshot file holds the PNG bytes unchanged")
    empty_save = index_of(events, lambda e: e["event"] == "send" and '"png_b64":""' in e["json"])
    check(empty_save >= 0 and events[empty_save + 1]["event"] == "step",
          "savePng without data goes straight on (no dialog)")

    other_pick = index_of(events, lambda e: e["event"] == "mark" and e["name"] == "pick-other")
    if check(0 <= cancel < other_pick, "both folder picks were played"):
        check(not posts(events, "setProject", cancel, other_pick),
              "a cancelled folder picker starts no analysis")
        picked = posts(events, "setProject", other_pick)
        check(bool(picked) and [f["name"] for f in picked[-1][1]["files"]] == ["tool.go"],
              "the picked folder is analysed and sent")

    quit_send = index_of(events, lambda e: e["event"] == "send" and "quitApp" in e["json"])
    finals = [e["object"] for e in events[quit_send:] if e["event"] == "final-release"]
    check(sorted(finals) == ["controller", "environment", "settings", "webview"],
          "after quitApp the program released the view's objects once each (got %s)" % finals)

    trace_lines = trace.splitlines()
    check('< {"type":"uiReady"}' in trace_lines, "--trace shows the incoming messages")
    check(any(line.startswith('> {"type":"setProject"') for line in trace_lines),
          "--trace shows the outgoing messages")
    if not failures:
        run.cleanup()
    else:
        print("  (kept %s)" % run.dir)


def scenario_fallback_page(build):
    for label, page in (("missing", None), ("empty", b"")):
        print("fallback page, page file %s" % label)
        run = Run(build, "fallback-" + label, page=page)
        run.write_script(["send {\"type\":\"quitApp\"}"])
        run.start()
        code, _ = run.finish()
        events = run.events()
        navigate = [e for e in events if e["event"] == "navigate"]
        check(code == 0, "exit code 0 (got %s)" % code)
        check(len(navigate) == 1 and navigate[0]["html"] == FALLBACK_PAGE and
              navigate[0]["length"] == 231, "the built-in 231-character page is shown")
        check_no_misuse(events)
        run.cleanup()


def scenario_without_view(build, label, loader, script_lines):
    """No view ever comes: the window must still resize and close."""
    print("window without a view: %s" % label)
    run = Run(build, label, loader=loader)
    if script_lines is not None:
        run.write_script(script_lines)
    run.start()
    window = find_window()
    if check(window is not None, "a window titled Varnholt appears"):
        # Asked again until it holds: the first request may race the
        # window's own first layout.
        deadline = time.time() + 10
        while time.time() < deadline and window_size(window) != (700, 450):
            subprocess.run(["xdotool", "windowsize", window, "700", "450"])
            time.sleep(0.5)
        check(window_size(window) == (700, 450), "the window resizes (got %s)" %
              (window_size(window),))
        check(run.process.poll() is None, "the program keeps running")
        close_window(window)
    code, _ = run.finish(timeout=60)
    check(code == 0, "closing the window ends the process with exit code 0 (got %s)" % code)
    events = run.events()
    check_no_misuse(events)
    names = [e["event"] for e in events]
    released = {e["kind"]: e["left"] for e in events if e["event"] == "handler-released"}
    if script_lines == ["fail-environment"]:
        check("create-controller" not in names, "no controller after a failed environment")
        check(released == {"environment-completed": 0},
              "the environment callback is freed after its failure (got %s)" % released)
    if script_lines == ["no-webview"]:
        check("navigate" not in names and "setting" not in names,
              "nothing is called on a view that does not exist")
        check("bounds" in names, "the controller still gets its bounds")
        check(released == {"environment-completed": 0, "controller-completed": 0},
              "both creation callbacks are freed (got %s)" % released)
        finals = sorted(e["object"] for e in events if e["event"] == "final-release")
        check(finals == ["controller", "environment"],
              "controller and environment released at exit (got %s)" % finals)
    run.cleanup()


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/mingw")
    if not os.environ.get("DISPLAY"):
        sys.exit("needs an X display: run under xvfb-run")
    os.makedirs(os.path.join(build, "wine-e2e"), exist_ok=True)
    scenario_session(build)
    scenario_fallback_page(build)
    scenario_without_view(build, "no-loader", False, None)
    scenario_without_view(build, "failed-environment", True, ["fail-environment"])
    scenario_without_view(build, "controller-without-view", True, ["no-webview"])
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all end-to-end checks passed")


if __name__ == "__main__":
    main()
