#!/usr/bin/env bash
# End-to-end test of the Linux program under its own Xvfb, following the
# --trace messages on both sides of the bridge: start on a small project,
# click a file, edit another, look at the window, save a snapshot, close;
# then start without a folder and quit; then close during an analysis;
# then end it by SIGINT, and by SIGTERM after rescans of a big project.
#   tests/e2e/linux_e2e.sh [BUILD_DIR]      (default build/default)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build/default}" && pwd)
exe=$build/src/shell/linux/varnholt
send_close=$build/tests/e2e/send_close
work=$(mktemp -d "${TMPDIR:-/tmp}/varnholt-e2e.XXXXXX")
keep=0 xvfb_pid= app_pid= trace= big=

fail() {
  echo "e2e: FAIL: $*" >&2
  [ -f "$trace" ] && { tail -n 20 "$trace" | cut -c1-300 >&2; keep=1; }; exit 1
}
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$big" ] && rm -rf "$big"
  if [ "$keep" = 1 ]; then echo "e2e: logs kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
for tool in "$exe" "$send_close" Xvfb xdotool import convert identify; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

project="$work/project"
mkdir -p "$project/src" "$project/docs" "$work/cwd"
printf 'int run(int n, int *v) {\n  int t = 0;\n  for (int i = 0; i < n; ++i) {\n    if (v[i] > 0 && v[i] %% 2 == 0) { t += v[i] > 9 ? 1 : 2; }\n  }\n  return t;\n}\n' >"$project/src/engine.c"
printf 'def scale(values, factor):\n    return [v * factor for v in values if v]\n' >"$project/src/util.py"
printf '# Notes\n\nNothing hot here.\n' >"$project/docs/notes.md"

# start_app NAME ARGS...: from its own folder (the save dialog starts there), stderr in $trace.
start_app() {
  trace="$work/$1.trace.log"
  shift
  (cd "$work/cwd" && exec "$exe" --trace "$@") >"$work/stdout.log" 2>"$trace" &
  app_pid=$!
}
count() { grep -cE -- "$1" "$trace" || true; }
# wait_for SECONDS COUNT PATTERN: until COUNT trace lines match.
wait_for() {
  local deadline=$((SECONDS + $1))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(count "$3")" -ge "$2" ] && return 0
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended early"
    sleep 0.05
  done
  return 1
}
# find_window TITLE: polls, as xdotool's --sync gives up when another window vanishes.
find_window() {
  for _ in $(seq 200); do
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep . && return 0
    sleep 0.1
  done
  fail "no window titled $1"
}
# wait_exit WHAT: the program ends within 5 s with status 0.
wait_exit() {
  local status=0
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$app_pid" 2>/dev/null && fail "the program still runs 5 s after $1"
  wait "$app_pid" || status=$?
  app_pid= && [ "$status" = 0 ] || fail "exit status $status after $1"
}
last_member() { grep -E "$1" "$trace" | tail -n1 | sed -E "s/.*\"$2\":\"([^\"]*)\".*/\\1/"; }

start_app project "$project"
wait_for 30 1 '^< \{"type":"uiReady"' || fail "no uiReady from the page"
wait_for 20 1 '^> \{"type":"setProject"' || fail "no setProject after uiReady"
for member in '"name":"engine.c"' '"name":"util.py"' '"name":"notes.md"' "\"path\":\"$project/src/engine.c\""; do
  grep -qF -- "$member" <(grep -E '^> \{"type":"setProject"' "$trace") || fail "setProject lacks $member"
done
window=$(find_window "project — Varnholt")  # the opened folder names the window
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 1400 ] && [ "$HEIGHT" = 860 ] || fail "window is ${WIDTH}x${HEIGHT}, not 1400x860"

# The hottest file's row: below a 48 px header, 46 px toolbar, 37 px scope bar, 27 px line; rows of 26 px.
sleep 0.5
codes=$(count '^> \{"type":"setCode","path":"/')
xdotool mousemove --window "$window" 60 $((48 + 46 + 37 + 27 + 13)) click 1
wait_for 5 1 '^< \{"type":"selectFile"' || fail "clicking a file sent no selectFile"
wait_for 5 $((codes + 1)) '^> \{"type":"setCode","path":"/' || fail "no setCode for the clicked file"
code_path=$(last_member '^> \{"type":"setCode","path":"/' path)
cmp -s <(base64 -d <<<"$(last_member '^> \{"type":"setCode","path":"/' code_b64)") "$code_path" ||
  fail "setCode text differs from $code_path"

updates=$(count '^> \{"type":"updateProject"')
printf 'def more(x):\n    return [y for y in x if y > 0 and y %% 2]\n' >>"$project/src/util.py"
wait_for 3 $((updates + 1)) '^> \{"type":"updateProject".*util\.py' || fail "no updateProject after editing a file"

for _ in $(seq 20); do  # until the web view has painted
  import -window "$window" "$work/window.png"
  colours=$(convert "$work/window.png" -format %k info:) && [ "$colours" -ge 64 ] && break || sleep 0.25
done
[ "$colours" -ge 64 ] || fail "the window shows only $colours colours: blank?"

# Keys go to the focused window (GTK ignores synthetic events sent to one); the click gave the page focus.
xdotool key ctrl+s
wait_for 10 1 '^< \{"type":"savePng"' || fail "Ctrl+S sent no savePng"
find_window "Save Snapshot" >/dev/null
xdotool key ctrl+a type snap
xdotool key Return
for _ in $(seq 100); do [ -s "$work/cwd/snap.png" ] && break; sleep 0.05; done
cmp -s <(base64 -d <<<"$(last_member '^< \{"type":"savePng"' png_b64)") "$work/cwd/snap.png" ||
  fail "snap.png is missing or differs from the page's image"
identify "$work/cwd/snap.png" >/dev/null || fail "snap.png is not an image"
"$send_close" "$window" || fail "could not ask the window to close"
wait_exit "its window was closed"

start_app empty
wait_for 30 1 '^< \{"type":"uiReady"' || fail "no uiReady from the page (no folder)"
sleep 1
[ "$(count '^> ')" = 0 ] || fail "messages went to the page before any folder was chosen"
xdotool mousemove --window "$(find_window Varnholt)" 700 400 click 1 key ctrl+q
wait_for 5 1 '^< \{"type":"quitApp"' || fail "Ctrl+Q sent no quitApp"
wait_exit "quitApp"

start_app busy /usr/include
"$send_close" "$(find_window ".*Varnholt")" || fail "could not ask the window to close"
wait_exit "its window was closed during an analysis"

# Ctrl+C (SIGINT) and a logout (SIGTERM, below) close the window like its close box: status 0.
start_app int /usr/include
find_window Varnholt >/dev/null
kill -INT "$app_pid"
wait_exit "SIGINT during an analysis"

# The web process holding the page must not grow through ten rescans of 50,000 files.
big=$(mktemp -d /dev/shm/varnholt-e2e.XXXXXX 2>/dev/null || echo "$work/big")  # in memory where possible
for d in $(seq 0 499); do mkdir -p "$big/d$d" && (cd "$big/d$d" && printf 'int f(int x) { return x > 1 ? 2 : x; }\n' | tee f{0..99}.c >/dev/null); done
trace="$work/big.trace.log" && : >"$trace"
(cd "$work/cwd" && exec "$exe" --trace "$big") 2> >(stdbuf -oL cut -c1-100 >"$trace") >/dev/null &
app_pid=$!
web_kb() { for p in $(pgrep -P "$app_pid"); do [ "$(cat "/proc/$p/comm")" = WebKitWebProces ] && awk '/VmRSS/{print $2}' "/proc/$p/status"; done; true; }
for i in $(seq 13); do  # the first list, then one update per rescan; trace lines are cut
  wait_for 60 "$i" '^> \{"type":"(setProject|updateProject)"' || fail "rescan $((i - 1)) of 50,000 files sent nothing"
  [ "$i" = 3 ] && steady=$(web_kb)
  echo "// $i" >>"$big/d0/f0.c"
done
sleep 1; rescanned=$(web_kb)
echo "e2e: web process ${steady} kB after 2 rescans of 50,000 files, ${rescanned} kB after 10 more"
[ "$rescanned" -le $((steady * 5 / 4)) ] || fail "the web process grew from $steady to $rescanned kB"
kill -TERM "$app_pid"
[ "$(count '^> \{"type":"setProject"')" = 1 ] || fail "a rescan of one file resent the project"
wait_exit "SIGTERM on the big project"
echo "e2e: PASS"
