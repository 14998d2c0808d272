#!/usr/bin/env bash
# Runs the benchmarks in a Release build and prints the performance table
# in Markdown: per transport, unit software and baud rate the achieved time
# of the flash write against the protocol's bound and their ratio (from
# bench/flash_throughput), the file and whole-update figures when those
# benchmarks exist, the packet layer's latency and CPU cost, and what a USB
# adapter's latency timer costs each transport (bench/adapter_latency).
#   bash scripts/perf_table.sh           # all of it
#   bash scripts/perf_table.sh adapter   # the adapter's table alone
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

dir="$KEL_BUILD_ROOT/rel"
mkdir -p "$dir"
only="${1:-}"
benches=(flash_throughput packet_latency)
[ "$only" = adapter ] && benches=()
for optional in file_throughput update_times adapter_latency; do
  [ "$only" = adapter ] && [ "$optional" != adapter_latency ] && continue
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

# The adapter's lines (transport, latency_ms, s, line_s) become one row per
# transport: the time with the timer at 1 ms and at 16 ms, the line's
# bound, and what the 16 ms cost on top of 1 ms.
adapter_table() {
  awk '
    BEGIN {
      print "| Transport | Line bound s | 1 ms timer: s | 16 ms timer: s | 16 ms against 1 ms |"
      print "|---|---|---|---|---|"
    }
    /^adapter-latency / && / s=/ {
      delete f
      for (i = 2; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
      t = f["transport"]
      if (!(t in line)) order[++n] = t
      line[t] = f["line_s"]; s[t, f["latency_ms"]] = f["s"]
    }
    END {
      for (k = 1; k <= n; ++k) {
        t = order[k]; a = s[t, 1]; b = s[t, 16]
        printf "| %s | %s | %s | %s | %+.1f %% |\n", t, line[t], a, b, (a > 0 ? (b - a) * 100 / a : 0)
      }
    }'
}

if [ "$only" = adapter ]; then
  "$dir/adapter_latency" | adapter_table
  exit 0
fi

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

if [ -x "$dir/adapter_latency" ]; then
  echo
  echo "USB adapter's latency timer (\`bench/adapter_latency\`, 115200 baud):"
  echo
  "$dir/adapter_latency" | adapter_table
fi
