#!/usr/bin/env python3
"""The Windows program under Wine with the stand-in web view (it plays the page
from a script, logs what the program does) as WebView2Loader.dll or as a
registered runtime, and with none. Run under xvfb-run; needs xdotool.

    python3 e2e_test.py BUILD_DIR      # the mingw preset's build
"""

import base64, json, os, shutil, subprocess, sys, tempfile, threading, time

WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../scripts/wine-run")
LOADER = "WebView2Loader.dll"
CLIENT_STATE = r"SOFTWARE\Microsoft\EdgeUpdate\ClientState\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
PAGE = "\ufeff<!doctype html><html><body>page \u00e9\u20ac</body></html>\n"
MAIN_C = "int main(void) {\n  for (int i = 0; i < 3; i++) {\n    if (i % 2) return i;\n  }\n}\n"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("  FAIL: " + what)
    return condition


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def xdo(*args):
    return subprocess.run(["xdotool"] + list(args), capture_output=True, text=True).stdout.split()


def wait_for(condition, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    return None


class Run:
    """One start of the program from a folder of its own."""

    def __init__(self, build, loader=True, page=None, script=(), runtime=()):
        """`runtime`: (hive, holds the DLL) for each registered version folder."""
        self.dir = tempfile.mkdtemp(prefix="varnholt-e2e-")
        self.build, self.cwd = build, None
        app = os.path.join(self.dir, "app")
        os.makedirs(app)
        self.exe = shutil.copy(os.path.join(build, "src/shell/win32/varnholt.exe"), app)
        fake = os.path.join(build, "tests/shell/win32/fake_webview2", LOADER)
        if loader:
            shutil.copy(fake, app)
        if page is not None:
            open(os.path.join(app, "VarnholtUI.html"), "wb").write(page)
        self.log = os.path.join(self.dir, "log")
        open(os.path.join(self.dir, "script"), "w").write("\n".join(script) + "\n")
        self.env = dict(os.environ, WINEPREFIX=os.path.join(build, "wine-e2e"),
                        VARNHOLT_FAKE_WEBVIEW2_LOG=win(self.log),
                        VARNHOLT_FAKE_WEBVIEW2_SCRIPT=win(os.path.join(self.dir, "script")))
        for hive in ("HKLM", "HKCU"):
            self.reg("delete", hive + "\\" + CLIENT_STATE, "/f")
        for hive, with_dll in runtime:
            folder = os.path.join(self.dir, hive, "130.0.2.1")
            os.makedirs(os.path.join(folder, "EBWebView", "x64"))
            if with_dll:
                shutil.copy(fake, os.path.join(folder, "EBWebView", "x64",
                                               "EmbeddedBrowserWebView.dll"))
            self.reg("add", hive + "\\" + CLIENT_STATE, "/v", "EBWebView", "/d", win(folder),
                     "/f", "/reg:32")

    def reg(self, *arguments):
        subprocess.run([WINE_RUN, "reg"] + list(arguments), env=self.env, capture_output=True)

    def plant_loader(self):
        """Copies of the loader in the current folder and on the PATH, not beside us."""
        self.cwd, on_path = (os.path.join(self.dir, n) for n in ("cwd", "on-path"))
        for folder in (self.cwd, on_path):
            os.makedirs(folder)
            shutil.copy(os.path.join(self.build, "tests/shell/win32/fake_webview2", LOADER), folder)
        self.env["WINEPATH"] = win(on_path)

    def start(self, *arguments):
        self.process = subprocess.Popen([WINE_RUN, self.exe] + list(arguments), env=self.env,
                                        cwd=self.cwd, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)

    def lines(self):
        return open(self.log, encoding="utf-8").read().splitlines() if os.path.exists(self.log) \
            else []

    def finish(self, timeout=120):
        """Exit code (None when it had to be killed), stderr, the log's lines."""
        try:
            _, err = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            _, err = self.process.communicate()
        code = self.process.returncode if self.process.returncode >= 0 else None
        lines = self.lines()
        for bad in ("trap", "wrong-thread", "over-release", "script-timeout", "bad-step",
                    "bad-iid"):
            check(not [l for l in lines if l.startswith(bad + " ")], "no %s in the log" % bad)
        return code, err.decode("utf-8", "replace"), lines


def index(lines, prefix, start=0):
    return next((i for i in range(start, len(lines)) if lines[i].startswith(prefix)), -1)


def posts(lines, kind, start=0, end=None):
    prefix = 'post {"type":"%s"' % kind
    return [json.loads(l[5:]) for l in lines[start:end] if l.startswith(prefix)]


def answer_dialogs(plan, answered):
    """Answers the modal dialogs in order as a user would, then touches `done`."""
    for title, text, key, done in plan:
        found = wait_for(lambda: xdo("search", "--onlyvisible", "--name", "^%s$" % title), 90)
        if not found:
            return
        time.sleep(0.5)  # let the dialog settle before typing into it
        xdo("windowfocus", "--sync", found[0])
        if text:
            xdo("type", "--delay", "15", text)
        xdo("key", key)
        wait_for(lambda: found[0] not in xdo("search", "--onlyvisible", "--name", title), 20)
        if done:
            open(done, "w").close()
        answered.append(title)


def session(build):
    print("session with a project folder")
    b64 = lambda data: base64.b64encode(data).decode("ascii")
    run = Run(build, loader=False, page=PAGE.encode("utf-8"),
              runtime=[("HKLM", False), ("HKCU", True)])
    project, other, shots = (os.path.join(run.dir, n) for n in ("proj", "other", "shots"))
    for folder in (project, other, shots, os.path.join(project, "lib")):
        os.makedirs(folder, exist_ok=True)
    main_c = os.path.join(project, "main.c")
    open(main_c, "w").write(MAIN_C)
    open(os.path.join(project, "lib", "util.py"), "w").write("def f(x):\n    return x\n")
    open(os.path.join(other, "tool.go"), "w").write("package main\n\nfunc main() {\n}\n")
    png = b"\x89PNG\r\n\x1a\n" + bytes(range(256))
    cancelled = os.path.join(run.dir, "cancelled")
    open(os.path.join(run.dir, "script"), "w").write("\n".join([
        'send {"type":"uiReady"}', "wait setProject 60000",
        'send {"type":"selectFile","path_b64":"%s"}' % b64(win(main_c).encode()), "wait setCode",
        'send {"type":"requestAudit"}', "wait setAudit",
        'send {"type":"savePng","png_b64":""}',
        'send {"type":"savePng","png_b64":"%s","name_b64":"%s"}'
        % (b64(png), b64(win(os.path.join(shots, "snap")).encode())),
        "navigate file:///Z:/dropped.txt", "navigate data:text/html,late",
        "resize 1000 700", "sizemove 900 600", "move 40 30",
        "append %s int more(void) {|  return 1;|}|" % win(main_c), "wait updateProject 30000",
        "activate", "popup https://example.com/",
        "crash render", "append %s int again(void) {|  return 2;|}|" % win(main_c), "sleep 4000",
        "mark reloaded", 'send {"type":"uiReady"}', "wait setProject 30000", "wait setCode",
        "mark pick-cancel", 'send {"type":"pickFolder"}', "wait-file %s 90000" % win(cancelled),
        "sleep 1500", "mark pick-other", 'send {"type":"pickFolder"}', "wait setProject 90000",
        'send {"type":"quitApp"}']) + "\n")
    answered = []
    answerer = threading.Thread(target=answer_dialogs, daemon=True, args=([
        ("Save", None, "Return", None), ("Select Folder", None, "Escape", cancelled),
        ("Select Folder", win(other), "Return", None)], answered))
    run.plant_loader()
    run.start("--trace", win(project))
    answerer.start()
    code, trace, lines = run.finish()
    check(answered == ["Save", "Select Folder", "Select Folder"],
          "the save dialog and the folder picker (twice) were shown (got %s)" % answered)
    check(code == 0 and "script-done" in lines, "the script ran to its end and quitApp exits 0")
    check(any(l.startswith("create-environment runtime sta 1 defaults 1 user-data C:\\users\\")
              and l.endswith("\\AppData\\Local\\Varnholt\\WebView2 folder 1") for l in lines),
          "per-user runtime asked from an STA with our user-data folder made")
    check("manifest per-monitor-v2 1 aware 2" in lines, "per-monitor aware (Wine: 2 for v2 too)")
    check("manifest windows-8.1 0" in lines, "the manifest claims no Windows before 10")
    check("plain-load-finds-loader 0" in lines,
          "loaders in the current folder and on the PATH stay unused, by us and by a plain load")
    check([l for l in lines if l.startswith("navigation ")] ==
          ["navigation about:blank cancelled 0", "navigation file:///Z:/dropped.txt cancelled 1",
           "navigation data:text/html,late cancelled 1", "navigation about:blank cancelled 0"],
          "only our page may load, and again after its renderer died")

    # Call order on the new view, and the page text before any message.
    calls = [l for l in lines if l.startswith(("setting", "bounds", "add", "navigate", "post"))]
    kinds = [l if l.startswith(("setting", "add")) else l.split(" ")[0] for l in calls[:12]]
    check(kinds == ["setting 14 1", "setting 12 1", "setting 18 0", "setting 24 0", "bounds",
                    "add navigation-starting", "add web-message", "add navigation-completed",
                    "add process-failed", "add new-window", "navigate", "post"],
          "set-up order, browser keys off, DevTools on with --trace: %s" % kinds)
    first_step = index(lines, "step ")
    check(0 <= index(lines, "move-focus 0", index(lines, "navigate ")) < first_step,
          "the keyboard goes to the page once it is shown")
    away, back = index(lines, "switched-away 1"), index(lines, "switched-back 1")
    check(0 <= away < back and "move-focus 0" in lines[away:back],
          "and again when the window is activated")
    check("navigate " + PAGE.replace("\n", "\\n") in lines, "page file shown as UTF-8, BOM kept")
    check(0 <= index(lines, "visible 1") < index(lines, "navigation-completed"),
          "the view is shown when the navigation completes")

    # Ownership: every handler handed back, the view's objects freed once at quit.
    released = sorted(l for l in lines if l.startswith("handler-released"))
    check(released == ["handler-released %s 0" % k for k in (
        "controller-completed", "environment-completed", "navigation-completed",
        "navigation-starting", "new-window", "process-failed", "web-message")],
        "the program keeps no reference to its callbacks (got %s)" % released)
    finals = sorted(l[14:] for l in lines[index(lines, 'send {"type":"quitApp"'):]
                    if l.startswith("final-release"))
    check(finals == ["controller", "environment", "settings", "webview"], "freed: %s" % finals)
    check(0 <= index(lines, "close host-window 1") < index(lines, "final-release controller"),
          "the controller is closed while its host window exists, then released")

    # Bounds follow the host, during a move/size loop too, and the view stays shown.
    bounds = [l.split(" ") for l in lines if l.startswith("bounds")]
    check(bounds and all(b[1] == b[3] for b in bounds), "view bounds = host client area")
    resized = [l for l in lines[index(lines, "step resize"):index(lines, "step sizemove")]
               if l.startswith("bounds")]
    check(bounds and resized and resized[-1].split(" ")[1] != bounds[0][1],
          "a resize gives the view the new size")
    start, inside = index(lines, "step sizemove"), index(lines, "inside-sizemove")
    during = [l for l in lines[start:inside] if l.startswith("bounds")]
    check(during and all(l.endswith("shown 1") for l in during) and
          not [l for l in lines[start:index(lines, "step move")] if l.startswith("visible")],
          "resized live inside a move/size loop, never hidden")
    check(lines[index(lines, "step move") + 1] == "notify-moved", "a move notifies the view")

    # The page's requests as answered on Windows paths.
    first = posts(lines, "setProject")[0]
    check(sorted(win(os.path.join(project, p)) for p in ("main.c", "lib/util.py")) ==
          sorted(f["path"] for f in first["files"]), "project lists the files by full path")
    texts = [base64.b64decode(m["code_b64"]) for m in posts(lines, "setCode")
             if m["path"] == win(main_c)]
    check(texts and texts[0].decode() == MAIN_C, "the selected file's text is sent")
    check(all(i["path"].startswith(win(project)) for i in posts(lines, "setAudit")[0]["items"]),
          "audit lines belong to the project")
    cancel, pick = index(lines, "step mark pick-cancel"), index(lines, "step mark pick-other")
    check("new-window https://example.com/ handled 1" in lines and "new-window-given" not in lines,
          "a new window is refused")
    crash, reloaded = index(lines, "process-failed 1"), index(lines, "step mark reloaded")
    loads = [l if l.startswith("navigation") else l[:8] for l in lines[crash:reloaded]
             if l.startswith(("navigate ", "navigation"))]
    check(0 <= crash < reloaded and loads == [
        "navigate", "navigation-completed error-page", "navigation about:blank cancelled 0",
        "navigation-completed page"], "a dead renderer: our page again, past the error page")
    check(not [l for l in lines[crash:reloaded] if l.startswith("post")],
          "nothing goes to the reloading page before it is ready")
    again = posts(lines, "setProject", reloaded, cancel)
    check(again and again[-1]["totalLOC"] == first["totalLOC"] + 6 and
          posts(lines, "setCode", reloaded, cancel), "its uiReady gets the current project")
    rescan = posts(lines, "updateProject", index(lines, "appended 1"), index(lines, "step activate"))
    check(rescan and rescan[-1]["totalLOC"] == first["totalLOC"] + 3, "the edit is rescanned")
    check(os.listdir(shots) == ["snap.png"] and open(os.path.join(shots, "snap.png"), "rb").read()
          == png, "the snapshot is saved where the dialog said, .png added, bytes unchanged")
    check(lines[index(lines, 'send {"type":"savePng","png_b64":""') + 1].startswith("step"),
          "an empty snapshot asks nothing")
    check(0 <= cancel < pick and not posts(lines, "setProject", cancel, pick) + posts(lines, "updateProject", cancel, pick),
          "a cancelled folder picker starts no analysis")
    picked = posts(lines, "setProject", pick)
    check(picked and [f["name"] for f in picked[-1]["files"]] == ["tool.go"], "picked folder sent")
    check('< {"type":"uiReady"}' in trace.splitlines() and '> {"type":"setProject"' in trace,
          "--trace shows both directions")
    return run.dir


def without_view(build, label, loader, script, expected, runtime=()):
    """No view ever comes: the window still resizes and closes; `expected` are
    the log's releases. Returns the trace and the log's lines."""
    print("window without a view: %s" % label)
    run = Run(build, loader=loader, script=script, runtime=runtime)
    run.env["WINEDEBUG"] = "-all,+seh"  # a fault inside a window procedure is swallowed
    run.start("--trace")
    window = wait_for(lambda: xdo("search", "--name", "^Varnholt$"), 90)
    if check(window, "a window titled Varnholt appears"):
        size = lambda: xdo("getwindowgeometry", window[0])[-1]
        # Asked again until it holds: the first request may race the first layout.
        resized = lambda: xdo("windowsize", window[0], "700", "450") or size() == "700x450"
        check(wait_for(resized, 10), "the window resizes (got %s)" % size())
        # Closed once the callbacks came back: the loader answers asynchronously.
        wait_for(lambda: all(l in run.lines() for l in expected if l.startswith("handler")), 30)
        xdo("windowfocus", "--sync", window[0])
        xdo("key", "alt+F4")
    code, err, lines = run.finish(timeout=60)
    check(code == 0 and "code=c0000005" not in err, "no access violation; closing exits 0")
    released = sorted(l for l in lines if l.startswith(("handler-released", "final-release")))
    check(released == expected, "ownership: %s" % released)
    shutil.rmtree(run.dir)
    return err, lines


def per_machine_and_browser_exit(build):
    print("per-machine runtime; failed posts; the browser process exits")
    run = Run(build, loader=False, runtime=[("HKLM", True)], script=[
        "fail-posts", 'send {"type":"uiReady"}', "wait setProject 60000", "crash browser",
        "host-text", 'send {"type":"quitApp"}'])
    os.makedirs(os.path.join(run.dir, "proj"))
    open(os.path.join(run.dir, "proj", "a.c"), "w").write("int a;\n")
    run.start("--trace", win(os.path.join(run.dir, "proj")))
    code, trace, lines = run.finish()
    check(code == 0 and index(lines, "create-environment runtime") >= 0, "per-machine runtime used")
    check([l for l in lines if l.startswith("setting")] ==
          ["setting 14 1", "setting 12 1", "setting 18 0", "setting 24 0"], "settings: %s" % [
              l for l in lines if l.startswith("setting")])
    check("webview: post a message failed: 0x80004005" in trace, "a failed post is traced")
    crash = index(lines, "process-failed 0")
    shown = [l for l in lines[crash + 1:crash + 4] if not l.startswith("step")]
    check(crash >= 0 and shown == [
        "visible 0", "host-text The WebView2 Runtime stopped (its browser process exited). "
        "Start Varnholt again."], "a dead browser: the view hidden, the reason painted")
    shutil.rmtree(run.dir)


def page_too_large(build):
    print("a page larger than the view takes")
    run = Run(build, page=b"x" * (3 << 19), script=["host-text", 'send {"type":"quitApp"}'])
    run.start()
    code, _, lines = run.finish()
    check([l for l in lines if l.startswith("setting")] ==
          ["setting 14 0", "setting 12 0", "setting 18 0", "setting 24 0"],
          "context menu, DevTools and browser keys off")
    check(code == 0 and index(lines, "navigate ") < 0 and "visible 0" in lines, "nothing shown")
    check("host-text VarnholtUI.html is too large to show: 3072 KB as text, the web view takes at "
          "most 2048 KB." in lines, "the window says why")
    shutil.rmtree(run.dir)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/mingw")
    if not os.environ.get("DISPLAY"):
        sys.exit("needs an X display: run under xvfb-run")
    os.makedirs(os.path.join(build, "wine-e2e"), exist_ok=True)
    kept = session(build)
    per_machine_and_browser_exit(build)
    page_too_large(build)
    trace, _ = without_view(build, "no runtime", False, [], [], runtime=[("HKCU", False)])
    check("webview: find the runtime failed: 0x80070002" in trace, "--trace names the failed step")
    _, lines = without_view(build, "failed environment", True, ["fail-environment"],
                            ["handler-released environment-completed 0"],
                            runtime=[("HKLM", True)])
    check(index(lines, "create-environment loader") >= 0, "a loader beside us comes first")
    check("host-text The WebView2 Runtime did not start (error 0x80070005). Reinstall it from "
          "https://developer.microsoft.com/microsoft-edge/webview2/" in lines, "window says why")
    without_view(build, "controller without a view", True, ["no-webview"],
                 ["final-release controller", "final-release environment",
                  "handler-released controller-completed 0",
                  "handler-released environment-completed 0"])
    if failures:
        sys.exit("%d check(s) failed (the session's files are in %s)" % (len(failures), kept))
    shutil.rmtree(kept)
    print("all end-to-end checks passed")


if __name__ == "__main__":
    main()
