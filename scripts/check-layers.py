#!/usr/bin/env python3
"""Fails when a file under src/ includes a folder above or beside its own,
or a folder whose library its CMakeLists.txt does not link."""
import pathlib
import re
import sys

# Each folder and the folders below it that it may include.
LOWER = {
    "base": [],
    "model": ["base"],
    "analysis": ["base", "model"],
    "project": ["base", "model", "analysis"],
    "protocol": ["base", "model", "analysis", "project"],
    "history": ["base", "model", "analysis", "project"],
    "shell": ["base", "model", "analysis", "project", "protocol", "history"],
    "cli": ["base", "model", "analysis", "project", "protocol", "history"],
    "lsp": ["base", "model", "analysis", "project", "protocol"],
    "shell/linux": ["base", "model", "analysis", "project", "protocol", "history", "shell"],
    "shell/win32": ["base", "model", "analysis", "project", "protocol", "history", "shell"],
}
LIBRARY = {
    "base": "varnholt_base",
    "model": "varnholt_model",
    "analysis": "varnholt_analysis",
    "project": "varnholt_project",
    "protocol": "varnholt_protocol",
    "history": "varnholt_history",
    "shell": "varnholt_shell",
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
LINK = re.compile(r"target_link_libraries\s*\(([^)]*)\)", re.S)


def main():
    src = pathlib.Path(__file__).resolve().parent.parent / "src"
    problems, edges, files = [], set(), 0
    for path in sorted(p for p in src.rglob("*") if p.suffix in (".h", ".cc", ".rc")):
        folder = path.parent.relative_to(src).as_posix()
        if folder not in LOWER:
            problems.append(f"{path.relative_to(src)}: folder '{folder}' has no layer")
            continue
        files += 1
        cmake = path.parent / "CMakeLists.txt"
        links = set(" ".join(LINK.findall(cmake.read_text())).split()) if cmake.exists() else set()
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue  # beside the file itself
            target = match.group(1).rsplit("/", 1)[0]
            where = f"src/{path.relative_to(src)}:{number}"
            if target == folder:
                continue
            if target not in LOWER[folder]:
                kind = "up" if folder in LOWER.get(target, []) else "sideways"
                problems.append(f'{where}: "{match.group(1)}" points {kind} '
                                f"('{folder}' may include only {', '.join(LOWER[folder]) or 'itself'})")
            elif LIBRARY[target] not in links:
                problems.append(f'{where}: "{match.group(1)}" needs {LIBRARY[target]} '
                                f"in src/{folder}/CMakeLists.txt target_link_libraries")
            else:
                edges.add((folder, target))
    if problems:
        print("\n".join(problems), file=sys.stderr)
        print(f"check-layers: {len(problems)} include(s) break the layers", file=sys.stderr)
        return 1
    print(f"check-layers: OK, {files} files in {len(LOWER)} folders, "
          f"{len(edges)} folder edges, all pointing down and linked")
    return 0


if __name__ == "__main__":
    sys.exit(main())
