#!/bin/sh
# `make windows`: the zip a Windows user unpacks and runs (the WebView2 Runtime
# comes with Windows; no loader DLL is shipped).
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/mingw}
out=${2:-build/varnholt-windows-x64.zip}

# The build joins the page beside the exe.
page=$build/src/shell/win32/VarnholtUI.html
if [ ! -s "$page" ]; then
  echo "package-windows: $page is missing or empty (build the varnholt target); the program would show only its fallback page" >&2
  exit 1
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
x86_64-w64-mingw32-strip -o "$stage/varnholt.exe" "$build/src/shell/win32/varnholt.exe"
cp "$page" "$stage/VarnholtUI.html"
# Notepad on older Windows wants CRLF.
sed 's/$/\r/' src/shell/win32/README-Windows.txt > "$stage/README-Windows.txt"

rm -f "$out"
out_abs=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
(cd "$stage" && zip -q -X "$out_abs" varnholt.exe VarnholtUI.html README-Windows.txt)
echo "wrote $out"
