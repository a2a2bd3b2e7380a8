#!/bin/sh
# `make run`: the program on this repository's own source. With a display it
# opens the window; without one it prints the terminal report instead.
set -eu
cd "$(dirname "$0")/.."
gui=build/default/src/shell/linux/varnholt
report=build/default/src/cli/varnholt-report
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): printing the terminal report instead." >&2
elif [ ! -x "$gui" ]; then
  echo "The desktop program is not built (VARNHOLT_GUI is off?): printing the terminal report instead." >&2
else
  exec "$gui" "$PWD"
fi
if [ ! -x "$report" ]; then
  echo "The terminal report ($report) is not built either." >&2
  exit 1
fi
exec "$report" "$PWD/src"
