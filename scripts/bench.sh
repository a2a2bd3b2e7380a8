#!/bin/sh
# `make bench`: the whole pipeline on the Linux kernel source tree (walk, plain
# read, full analysis, rescans; time, throughput, peak memory), the Linux
# program on that tree (latency of a save, idle CPU, peak memory), then every Google
# Benchmark executable of the default build. The kernel source is unpacked
# once into a cache folder outside the repository.
set -eu
cd "$(dirname "$0")/.."

package=linux-source-6.1
tarball=/usr/src/$package.tar.xz
cache="${XDG_CACHE_HOME:-$HOME/.cache}/varnholt"
tree="$cache/$package"

if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing $package (only the benchmark needs it)"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$package"
fi

if [ ! -d "$tree" ]; then
  echo "Unpacking $tarball into $tree"
  rm -rf "$tree.partial"
  mkdir -p "$tree.partial"
  tar -xJf "$tarball" -C "$tree.partial" --strip-components=1
  mv "$tree.partial" "$tree"
fi

bench_dir=build/default/bench
cmake --build --preset default -j2 >/dev/null

# The engine's tree benchmarks read the same tree.
export VARNHOLT_BENCH_TREE="$tree"

echo "== kernel tree: $tree"
kernel_out=$(mktemp)
trap 'rm -f "$kernel_out"' EXIT
"$bench_dir/kernel_bench" "$tree" >"$kernel_out"
cat "$kernel_out"
echo "== report on the tree: --json, median of 5, beside the plain read of the same bytes"
python3 - build/default/src/cli/varnholt-report "$tree" "$kernel_out" <<'PY'
import os, re, statistics, subprocess, sys, time
runs, peak = [], 0
for _ in range(5):
    start = time.monotonic()
    child = subprocess.Popen([sys.argv[1], "--json", sys.argv[2]], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    runs.append((time.monotonic() - start, usage.ru_utime + usage.ru_stime))
    peak = max(peak, usage.ru_maxrss)
    if status != 0:
        sys.exit("report failed")
wall = statistics.median(r[0] for r in runs)
cpu = statistics.median(r[1] for r in runs)
print(f"report --json:  wall {wall:.2f} s   cpu {cpu:.2f} s   cpu/wall {cpu / wall:.2f}   "
      f"peak RSS {peak / 1024:.1f} MiB")
plain = re.search(r"^plain read.*?wall\s+([\d.]+) s\s+cpu\s+([\d.]+) s", open(sys.argv[3]).read(), re.M)
if plain:
    read_wall, read_cpu = float(plain.group(1)), float(plain.group(2))
    print(f"plain read:     wall {read_wall:.2f} s   cpu {read_cpu:.2f} s   "
          f"(report wall = {wall / read_wall:.2f} x the plain read)")
PY
echo "== Linux program: $tree"
scripts/bench_program.sh "$tree" build/default

echo "== language server: latency of diagnostics after an edit, memory on the tree"
python3 bench/lsp_bench.py build/default/src/lsp/varnholt-lsp "$tree"

echo "== overview map (the page in Chromium)"
node bench/overview_map.js build/default/src/cli/varnholt-report "$tree"

# Whether the audit and the line heat point at complex functions, against
# independent complexity tools (trees or tools that are missing are skipped).
echo "== heat against cyclomatic complexity: JDK java.util + java.lang, npm, the kernel, Python's library"
python3 bench/validity.py --report build/default/src/cli/varnholt-report jdk npm kernel python ||
  echo "validity: failed, going on"

for exe in "$bench_dir"/*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  [ "$(basename "$exe")" = kernel_bench ] && continue
  echo "== $(basename "$exe")"
  "$exe"
done
