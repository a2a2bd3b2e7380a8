#!/usr/bin/env python3
"""The language server's figures: diagnostics latency after an edit of a
2 MiB file (didChange sent to publishDiagnostics of that version received),
and the server's memory on a large workspace after its first scan.

    bench/lsp_bench.py VARNHOLT_LSP TREE [EDITS]
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time


class Client:
    def __init__(self, exe, root):
        self.proc = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.next_id = 1
        self.request("initialize", {
            "processId": os.getpid(), "rootUri": None,
            "capabilities": {"window": {"workDoneProgress": True}},
            "workspaceFolders": [{"uri": "file://" + root, "name": "w"}],
            "initializationOptions": {"lineHeat": False}})
        self.notify("initialized", {})

    def send(self, msg):
        body = json.dumps(msg).encode()
        self.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.proc.stdin.flush()

    def read(self):
        length = 0
        while True:
            line = self.proc.stdout.readline()
            if not line:
                sys.exit("the server closed its output")
            if line in (b"\r\n", b"\n"):
                break
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        return json.loads(self.proc.stdout.read(length))

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def request(self, method, params):
        self.next_id += 1
        self.send({"jsonrpc": "2.0", "id": self.next_id, "method": method, "params": params})
        return self.wait(lambda m: m.get("id") == self.next_id and "method" not in m)

    def wait(self, pred):
        while True:
            m = self.read()
            if "id" in m and "method" in m:  # a request of the server's: accept it
                self.send({"jsonrpc": "2.0", "id": m["id"], "result": None})
            if pred(m):
                return m

    def close(self):
        self.request("shutdown", None)
        self.notify("exit", None)
        self.proc.wait(10)

    def cpu_seconds(self):
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def rss(self):
        fields = {}
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
        return fields["VmRSS"], fields["VmHWM"]


def two_mib_of_c(tree):
    parts, size = [], 0
    for base, _, files in os.walk(os.path.join(tree, "kernel")):
        for name in sorted(files):
            if name.endswith(".c"):
                with open(os.path.join(base, name), "rb") as f:
                    data = f.read().decode("utf-8", "replace")
                room = 2 * 1024 * 1024 - 64 - size  # just inside the engine's window
                if len(data.encode()) > room:
                    cut = data.encode()[:room].decode("utf-8", "ignore")
                    parts.append(cut[:cut.rfind("\n") + 1])
                    return "".join(parts)
                parts.append(data)
                size += len(data.encode())
    return "".join(parts)


def diagnostics_of(uri, version):
    return lambda m: (m.get("method") == "textDocument/publishDiagnostics"
                      and m["params"]["uri"] == uri and m["params"].get("version") == version)


def latency(exe, tree, edits):
    with tempfile.TemporaryDirectory() as root:
        text = two_mib_of_c(tree)
        path = os.path.join(root, "big.c")
        with open(path, "w") as f:
            f.write(text)
        uri = "file://" + path
        c = Client(exe, root)
        c.notify("textDocument/didOpen", {"textDocument": {"uri": uri, "languageId": "c", "version": 1, "text": text}})
        c.wait(diagnostics_of(uri, 1))
        times = []
        cpu = c.cpu_seconds()
        for v in range(2, edits + 2):
            # Alternately add a hot line at the middle and take it out again.
            line = text.count("\n") // 2
            if v % 2 == 0:
                # A new text each time, so that no explanation is reused.
                hot = f"  if (a && b || c > d && !e) {{ x{v} = f ? g : h; }}\n"
                change = {"range": {"start": {"line": line, "character": 0}, "end": {"line": line, "character": 0}}, "text": hot}
            else:
                change = {"range": {"start": {"line": line, "character": 0}, "end": {"line": line + 1, "character": 0}}, "text": ""}
            start = time.monotonic()
            c.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": v}, "contentChanges": [change]})
            c.wait(diagnostics_of(uri, v))
            times.append((time.monotonic() - start) * 1000)
        cpu = (c.cpu_seconds() - cpu) / edits * 1000
        c.close()
    added, removed = times[0::2], times[1::2]
    times.sort()
    print(f"diagnostics after an edit of a {len(text.encode()) / 1048576:.2f} MiB file: median "
          f"{statistics.median(times):.1f} ms, p90 {times[int(len(times) * 0.9)]:.1f} ms, "
          f"max {times[-1]:.1f} ms ({edits} edits; median {statistics.median(added):.1f} ms "
          f"adding a new hot line, {statistics.median(removed):.1f} ms taking it out); "
          f"server CPU {cpu:.1f} ms per edit")


def memory(exe, tree):
    start = time.monotonic()
    c = Client(exe, tree)
    path = os.path.join(tree, "kernel", "sched", "core.c")
    uri = "file://" + path
    with open(path, encoding="utf-8", errors="replace") as f:
        c.notify("textDocument/didOpen", {"textDocument": {"uri": uri, "languageId": "c", "version": 1, "text": f.read()}})
    c.wait(lambda m: m.get("method") == "$/progress" and m["params"]["value"]["kind"] == "end")
    scan = time.monotonic() - start
    c.wait(diagnostics_of(uri, 1))
    rss, peak = c.rss()
    print(f"workspace {tree}: first scan {scan:.2f} s, RSS after it {rss}, peak {peak}")
    # A new file makes the watcher start a rescan; the open file's
    # diagnostics follow it. The file goes again right after.
    extra = os.path.join(tree, "kernel", "varnholt_lsp_bench.c")
    start = time.monotonic()
    try:
        with open(extra, "w") as f:
            f.write("int varnholt_lsp_bench(void) { return 0; }\n")
        c.wait(diagnostics_of(uri, 1))
    finally:
        os.remove(extra)
    rss, peak = c.rss()
    print(f"after a file was added: diagnostics again in {time.monotonic() - start:.2f} s "
          f"(0.3 s of it quiet time), RSS {rss}, peak {peak}")
    c.close()


if __name__ == "__main__":
    exe, tree = sys.argv[1], sys.argv[2]
    latency(exe, tree, int(sys.argv[3]) if len(sys.argv) > 3 else 40)
    memory(exe, tree)
