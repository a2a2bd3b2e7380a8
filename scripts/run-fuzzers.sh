#!/usr/bin/env bash
# Runs every libFuzzer target in the given build folder briefly.
set -euo pipefail
dir="$1"
seconds="${FUZZ_SECONDS:-20}"
found=0
for f in "$dir"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  found=1
  echo "fuzzing $(basename "$f") for ${seconds}s"
  "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 2>&1 | tail -n 3
done
[ "$found" = 1 ] || echo "no fuzz targets built"
