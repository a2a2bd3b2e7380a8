#!/usr/bin/env bash
# Runs every libFuzzer target in the given build folder briefly, with its
# dictionary (fuzz/NAME.dict) and seeds (fuzz/seeds/NAME) when it has them.
set -euo pipefail
dir="$1"
seconds="${FUZZ_SECONDS:-20}"
here="$(cd "$(dirname "$0")/.." && pwd)"
found=0
for f in "$dir"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  found=1
  name="$(basename "$f")"
  name="${name#fuzz_}"
  args=()
  [ -f "$here/fuzz/$name.dict" ] && args+=("-dict=$here/fuzz/$name.dict")
  corpus=""
  if [ -d "$here/fuzz/seeds/$name" ]; then
    # New inputs go to a scratch folder, never into the repository.
    corpus="$(mktemp -d)"
    cp "$here/fuzz/seeds/$name"/* "$corpus"/
    args+=("$corpus")
  fi
  echo "fuzzing fuzz_$name for ${seconds}s"
  # The last lines: the final coverage and the stats (execs/s, peak RSS).
  "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${args[@]}" 2>&1 |
    tail -n 10
  if [ -n "$corpus" ]; then rm -rf "$corpus"; fi
done
[ "$found" = 1 ] || echo "no fuzz targets built"
