#!/usr/bin/env bash
# End-to-end test of the Linux program: starts it under Xvfb on a small
# throwaway project with --trace and follows the messages on both sides of
# the bridge while it clicks, edits a file, takes a screenshot and closes
# the window.
#   tests/e2e/linux_e2e.sh [BUILD_DIR]      (default build/default)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
[ -d "$build" ] || { echo "e2e: FAIL: no build folder $build" >&2; exit 1; }
build=$(cd "$build" && pwd)
exe=$build/src/shell/linux/varnholt
send_close=$build/tests/e2e/send_close

fail() {
  echo "e2e: FAIL: $*" >&2
  if [ -n "${trace:-}" ] && [ -f "$trace" ]; then
    echo "--- last trace lines (cut at 300 characters) ---" >&2
    tail -n 20 "$trace" | cut -c1-300 >&2
    keep=1
  fi
  exit 1
}
note() { echo "e2e: $*"; }

[ -x "$exe" ] || fail "$exe is not built"
[ -x "$send_close" ] || fail "$send_close is not built"
for tool in Xvfb xdotool import convert identify base64; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnholt-e2e.XXXXXX")
keep=0
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  if [ "$keep" = 1 ]; then echo "e2e: logs kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- a display of our own ----------------------------------------------------
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

# --- a project to look at ------------------------------------------------------
project="$work/project"
mkdir -p "$project/src" "$project/docs"
cat >"$project/src/engine.c" <<'EOF'
#include <stdio.h>

int run(int n, int *v) {
  int total = 0;
  for (int i = 0; i < n; ++i) {
    if (v[i] > 0 && v[i] % 2 == 0) {
      while (v[i] > 10) { v[i] /= 2; total += v[i] << 1; }
    } else if (v[i] < 0 || v[i] == 7) {
      switch (v[i]) { case 7: total ^= 3; break; default: total -= v[i]; }
    }
  }
  return total;
}
EOF
cat >"$project/src/util.py" <<'EOF'
def scale(values, factor):
    return [v * factor for v in values if v]
EOF
printf '# Notes\n\nNothing hot here.\n' >"$project/docs/notes.md"
mkdir "$work/cwd"

# start_app NAME ARGS...: the program with --trace, its stderr in $trace.
start_app() {
  trace="$work/$1.trace.log"
  shift
  # From its own folder: the save dialog starts there.
  (cd "$work/cwd" && exec "$exe" --trace "$@") >"${trace%.trace.log}.stdout.log" 2>"$trace" &
  app_pid=$!
}

# find_window NAME: the id of a visible window with exactly this title. Polls,
# since xdotool's own --sync gives up when another window vanishes meanwhile.
find_window() {
  local id
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# wait_exit: the program ends within 5 s with status 0.
wait_exit() {
  local status=0
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$app_pid" 2>/dev/null && fail "the program still runs 5 s after $1"
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" = 0 ] || fail "exit status $status after $1"
}

# --- start on the project -------------------------------------------------------
start_app project "$project"

# wait_for SECONDS COUNT PATTERN: until COUNT lines match the extended regex.
wait_for() {
  local deadline=$((SECONDS + $1)) want=$2 pattern=$3
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(grep -cE -- "$pattern" "$trace" || true)" -ge "$want" ] && return 0
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended early"
    sleep 0.05
  done
  return 1
}
count() { grep -cE -- "$1" "$trace" || true; }

wait_for 30 1 '^< \{"type":"uiReady"' || fail "no uiReady from the page"
note "page said uiReady"
wait_for 20 1 '^> \{"type":"setProject"' || fail "no setProject after uiReady"
project_line=$(grep -E '^> \{"type":"setProject"' "$trace" | tail -n1)
for name in engine.c util.py notes.md; do
  case "$project_line" in *"\"name\":\"$name\""*) ;; *) fail "setProject lacks $name" ;; esac
done
case "$project_line" in *"\"path\":\"$project/src/engine.c\""*) ;; *) fail "setProject lacks the full path of engine.c" ;; esac
note "setProject lists engine.c, util.py and notes.md"

window=$(find_window "Varnholt") || true
[ -n "$window" ] || fail "no window titled Varnholt"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 1400 ] && [ "$HEIGHT" = 860 ] || fail "window is ${WIDTH}x${HEIGHT}, not 1400x860"
note "window $window at $X,$Y, ${WIDTH}x${HEIGHT}"

# --- click a file in the list --------------------------------------------------
# The page's file list, from its style sheet: a 48 px header, a 46 px
# toolbar and a 27 px line above rows of 26 px, each as wide as the list
# (at least 280 px). Row 0 is the hottest file.
file_row_position() { echo "60 $((48 + 46 + 27 + 26 * $1 + 13))"; }
selects_before=$(count '^< \{"type":"selectFile"')
codes_before=$(count '^> \{"type":"setCode","path":"/')
sleep 0.5  # let the list finish drawing
read -r click_x click_y < <(file_row_position 0)
xdotool mousemove --window "$window" "$click_x" "$click_y" click 1
wait_for 5 $((selects_before + 1)) '^< \{"type":"selectFile"' || fail "clicking a file sent no selectFile"
wait_for 5 $((codes_before + 1)) '^> \{"type":"setCode","path":"/' || fail "no setCode for the clicked file"
code_line=$(grep -E '^> \{"type":"setCode","path":"/' "$trace" | tail -n1)
code_path=$(sed -E 's/^> \{"type":"setCode","path":"([^"]*)".*/\1/' <<<"$code_line")
code_b64=$(sed -E 's/.*"code_b64":"([^"]*)".*/\1/' <<<"$code_line")
[ -f "$code_path" ] || fail "setCode names $code_path, not a project file"
cmp -s <(base64 -d <<<"$code_b64") "$code_path" || fail "setCode text differs from $code_path"
note "clicked a file: selectFile went out, setCode came back with the text of ${code_path#"$project"/}"

# --- edit a file: a new project message within 2 s ------------------------------
projects_before=$(count '^> \{"type":"setProject"')
sleep 0.3
edit_start=$(date +%s%N)
printf 'def more(x):\n    return [y for y in x if y > 0 and y %% 2]\n' >>"$project/src/util.py"
wait_for 3 $((projects_before + 1)) '^> \{"type":"setProject"' || fail "no setProject after editing a file"
edit_ms=$((($(date +%s%N) - edit_start) / 1000000))
[ "$edit_ms" -le 2000 ] || fail "the new setProject took $edit_ms ms (more than 2 s)"
note "edited util.py: a new setProject after $edit_ms ms"

# --- the window shows something ------------------------------------------------
import -window "$window" "$work/window.png"
colours=$(convert "$work/window.png" -format %k info:)
[ "$colours" -ge 64 ] || fail "the window shows only $colours colours: blank?"
note "screenshot of the window has $colours distinct colours"

# --- a snapshot, saved under a name typed without extension ----------------------
# Keys go to the focused window (synthetic events sent to a window are
# ignored by GTK); the click on the list gave the page the focus.
xdotool key ctrl+s
wait_for 10 1 '^< \{"type":"savePng"' || fail "Ctrl+S sent no savePng"
dialog=$(find_window "Save Snapshot") || true
[ -n "$dialog" ] || fail "no save dialog"
xdotool key ctrl+a
xdotool type snap
xdotool key Return
for _ in $(seq 100); do [ -s "$work/cwd/snap.png" ] && break; sleep 0.05; done
[ -s "$work/cwd/snap.png" ] || fail "snap.png was not written: $(ls "$work/cwd")"
png_b64=$(grep -E '^< \{"type":"savePng"' "$trace" | tail -n1 | sed -E 's/.*"png_b64":"([^"]*)".*/\1/')
cmp -s <(base64 -d <<<"$png_b64") "$work/cwd/snap.png" || fail "snap.png differs from the page's image"
png_size=$(identify -format '%wx%h' "$work/cwd/snap.png") || fail "snap.png is not an image"
note "Ctrl+S: save dialog, typed \"snap\", snap.png written ($png_size, the page's bytes)"

# --- close it as the close box does ----------------------------------------------
"$send_close" "$window" || fail "could not ask the window to close"
wait_exit "its window was closed"
note "window closed, exit status 0"

# --- without a folder: nothing is sent, and the page's quit ends the program -----
start_app empty
wait_for 30 1 '^< \{"type":"uiReady"' || fail "no uiReady from the page (no folder)"
sleep 1
[ "$(count '^> ')" = 0 ] || fail "messages went to the page before any folder was chosen"
window=$(find_window "Varnholt") || true
[ -n "$window" ] || fail "no window titled Varnholt (no folder)"
xdotool mousemove --window "$window" 700 400 click 1 key ctrl+q
wait_for 5 1 '^< \{"type":"quitApp"' || fail "Ctrl+Q sent no quitApp"
wait_exit "quitApp"
note "without a folder: uiReady, nothing sent; Ctrl+Q sent quitApp, exit status 0"

# --- closed while the analysis of a large folder still runs -----------------------
start_app busy /usr/include
window=$(find_window "Varnholt") || true
[ -n "$window" ] || fail "no window titled Varnholt (large folder)"
"$send_close" "$window" || fail "could not ask the window to close"
wait_exit "its window was closed during an analysis"
if [ "$(count '^> \{"type":"setProject"')" = 0 ]; then
  note "closed during the analysis of /usr/include: exit status 0"
else
  note "closed after the analysis of /usr/include had finished: exit status 0"
fi
note "PASS"
