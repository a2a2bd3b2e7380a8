#!/bin/sh
# Installs what building and testing need, once; a no-op when all is there.
# Debian 12 packages only (and npm packages for the page tests, left out
# with --packages).
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ make clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
libbenchmark-dev g++-mingw-w64-x86-64-posix wine64 libgtk-3-dev libwebkit2gtk-4.1-dev
xvfb xauth xdotool chromium nodejs npm imagemagick zip python3 python3-yaml git libicu72
desktop-file-utils appstream dpkg-dev ccache ca-certificates pkg-config libglib2.0-dev
nlohmann-json3-dev neovim"

missing=""
for p in $packages; do
  # Some Node.js builds bring npm inside their nodejs package.
  if [ "$p" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi

[ "${1:-}" = --packages ] && exit 0

if [ -f tests/ui/package-lock.json ] && [ ! -d tests/ui/node_modules/playwright-core ]; then
  (cd tests/ui && npm ci --no-audit --no-fund --loglevel=error)
fi

# vscode-jsonrpc for the language server's client session.
if [ -f tests/lsp/package-lock.json ] && [ ! -d tests/lsp/node_modules/vscode-jsonrpc ]; then
  (cd tests/lsp && npm ci --no-audit --no-fund --loglevel=error)
fi

# The SARIF multitool (a .NET program that needs libicu) for the CI report test.
if [ -f tests/cli/sarif/package-lock.json ] && [ ! -d tests/cli/sarif/node_modules/@microsoft ]; then
  (cd tests/cli/sarif && npm ci --no-audit --no-fund --loglevel=error)
fi
