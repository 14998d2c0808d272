#!/usr/bin/env bash
# Runs the benchmarks in a Release build and prints the performance table
# in Markdown: per transport, unit software and baud rate the achieved time
# of the flash write against the protocol's bound and their ratio (from
# bench/flash_throughput), the file and whole-update figures when those
# benchmarks exist, and the packet layer's latency and CPU cost.
#   bash scripts/perf_table.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

dir="$KEL_BUILD_ROOT/rel"
mkdir -p "$dir"
benches=(flash_throughput packet_latency)
for optional in file_throughput update_times; do
  [ -f "bench/$optional.cpp" ] && benches+=("$optional")
done
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
KEL_TARGETS="${benches[*]}" kel_build "$dir" -DCMAKE_BUILD_TYPE=Release -DKEL_BUILD_TESTS=OFF \
  "${launcher[@]}" >"$dir.perf-build.log" 2>&1 || { tail -30 "$dir.perf-build.log"; exit 1; }

# Every benchmark line with a bound becomes one row: what was measured (its
# name and descriptive fields), the baud rate, achieved time, bound, ratio,
# the updater's CPU time and, when the line gives it, its peak memory.
table() {
  awk '
    BEGIN {
      print "| What | Baud | Achieved s | Bound s | Ratio | Updater CPU s | Peak memory |"
      print "|---|---|---|---|---|---|---|"
    }
    / bound_s=/ && / achieved_s=/ {
      what = $1; delete f
      for (i = 2; i <= NF; ++i) {
        split($i, kv, "="); f[kv[1]] = kv[2]
        if (kv[1] ~ /^(transport|direction|image|scenario|unit|units|files|network)$/) what = what " " $i
      }
      peak = ("peak_kb" in f) ? f["peak_kb"] " KiB" : (("max_rss_kb" in f) ? f["max_rss_kb"] " KiB" : "")
      printf "| %s | %s | %s | %s | %s | %s | %s |\n", what, f["baud"], f["achieved_s"], f["bound_s"], f["ratio"], f["cpu_s"], peak
    }'
}

{
  for bench in flash_throughput file_throughput update_times; do
    if [ -x "$dir/$bench" ]; then "$dir/$bench"; fi
  done
} | table

echo
echo "Packet layer (\`bench/packet_latency\`):"
echo
echo '```'
"$dir/packet_latency"
echo '```'
