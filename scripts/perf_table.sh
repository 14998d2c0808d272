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

# key=value fields of one benchmark line.
field() { sed -nE "s/.*(^| )$1=([^ ]+).*/\2/p" <<<"$2"; }

echo "| Transport | Image | Baud | Achieved s | Bound s | Ratio | Updater CPU s |"
echo "|---|---|---|---|---|---|---|"
"$dir/flash_throughput" | grep '^flash-bench ' | while read -r line; do
  echo "| $(field transport "$line") | $(field image "$line") | $(field baud "$line") |" \
    "$(field achieved_s "$line") | $(field bound_s "$line") | $(field ratio "$line") |" \
    "$(field cpu_s "$line") |"
done

for optional in file_throughput update_times; do
  [ -x "$dir/$optional" ] || continue
  echo
  echo "\`$optional\`:"
  echo
  echo '```'
  "$dir/$optional"
  echo '```'
done

echo
echo "Packet layer:"
echo
echo '```'
"$dir/packet_latency"
echo '```'
