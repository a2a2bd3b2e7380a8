#!/bin/sh
# `make run`: the terminal report on this repository's own source.
set -eu
cd "$(dirname "$0")/.."
exec build/default/src/cli/varnholt-report "$PWD/src"
