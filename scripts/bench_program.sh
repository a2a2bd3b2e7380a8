#!/usr/bin/env bash
# The Linux program with a large tree open, under its own Xvfb with --trace:
# the time to the first list of files (the walked files, still pending), to
# the first "setProject" and to its history; three times, a line
# appended to one file and the time until the next project message
# ("setProject" or the smaller "updateProject") reaches the page (the file is
# then put back, which is one more rescan); the peak RSS through all of that;
# and the CPU seconds used over 2 idle minutes, twice.
#   scripts/bench_program.sh [--first] TREE [BUILD_DIR]     (BUILD_DIR: build/default)
# --first stops after the first "setProject".
set -euo pipefail
cd "$(dirname "$0")/.."
first_only=
[ "${1:-}" = --first ] && { first_only=1; shift; }
tree=$(cd "$1" && pwd)
exe=$(cd "${2:-build/default}" && pwd)/src/shell/linux/varnholt
edited=$tree/kernel/sched/core.c
[ -f "$edited" ] || edited=$(find "$tree" -name '*.c' -print -quit)
work=$(mktemp -d "${TMPDIR:-/tmp}/varnholt-bench.XXXXXX")
xvfb_pid= app_pid=

cleanup() {
  # The tree is a shared cache: the edited file always gets its bytes and time back.
  [ -f "$work/saved" ] && cp -p "$work/saved" "$edited"
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY

now() { date +%s.%N; }
# One line with the arrival time of every project message, however long.
projects() { [ -f "$work/projects" ] && wc -l <"$work/projects" || echo 0; }
wait_projects() {
  local deadline=$((SECONDS + 120))
  while [ "$(projects)" -lt "$1" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "bench: no project message within 120 s" >&2; exit 1; }
    sleep 0.01
  done
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

started=$(now)
"$exe" --trace "$tree" 2> >(grep --line-buffered -o -E '^(< \{"type":"uiReady"|> \{"type":"(setPendingProject"|setProject"|updateProject"|setHistory","state":"(read|none)"))' |
  while read -r line; do
    case $line in
      *uiReady*) now >>"$work/ready" ;;
      *setHistory*) now >>"$work/history" ;;
      *setPendingProject*) now >>"$work/lists" ;;
      *) now >>"$work/projects" ;;
    esac
  done) >/dev/null &
app_pid=$!
wait_projects 1
first=$(sed -n 1p "$work/projects")
[ -s "$work/ready" ] && printf 'program: page ready %.2f s after start\n' "$(echo "$(sed -n 1p "$work/ready") - $started" | bc)"
# A first run's list comes before its project, or not at all.
if [ -s "$work/lists" ]; then
  printf 'program: first list %.2f s after start\n' "$(echo "$(sed -n 1p "$work/lists") - $started" | bc)"
else
  echo 'program: first list: none before the project'
fi
printf 'program: first setProject %.2f s after start\n' "$(echo "$first - $started" | bc)"
[ -n "$first_only" ] && exit 0
# The history is read after the first project, on a thread of its own.
for _ in $(seq 12000); do [ -s "$work/history" ] && break; sleep 0.01; done
[ -s "$work/history" ] && printf 'program: history (read or none) %.2f s after start\n' \
  "$(echo "$(sed -n 1p "$work/history") - $started" | bc)"

cp -p "$edited" "$work/saved"
for i in 1 2 3; do
  sleep 3  # quiet, so the edit starts its own debounce
  seen=$(projects)
  saved_at=$(now)
  echo "/* edited */" >>"$edited"
  wait_projects $((seen + 1))
  arrived=$(sed -n "$((seen + 1))p" "$work/projects")
  printf 'program: appended line visible %.2f s after the save (%d of 3)\n' "$(echo "$arrived - $saved_at" | bc)" "$i"
  sleep 3  # quiet again
  seen=$(projects)
  cp -p "$work/saved" "$edited"
  wait_projects $((seen + 1))
done
rm -f "$work/saved"
sleep 5
printf 'program: peak RSS through start-up and %d rescans: %d MB\n' 6 \
  "$(($(awk '/^VmHWM/ { print $2 }' "/proc/$app_pid/status") / 1000))"

hz=$(getconf CLK_TCK)
web_ticks() { local t=0 p; for p in $(pgrep -P "$app_pid" || true); do t=$((t + $(cpu_ticks "$p"))); done; echo $t; }
# The first window follows the edits: its first periodic rescan reads the
# last edited file again (stamped too close to the walk before it to be
# trusted) and resends the project. The second is the program left alone.
for window in "right after the edits" "left alone"; do
  app0=$(cpu_ticks "$app_pid") web0=$(web_ticks)
  sleep 120
  app1=$(cpu_ticks "$app_pid") web1=$(web_ticks)
  printf 'program: idle for 120 s, %s: %.2f CPU s (web processes %.2f CPU s)\n' "$window" \
    "$(echo "($app1 - $app0) / $hz" | bc -l)" "$(echo "($web1 - $web0) / $hz" | bc -l)"
done
