#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang in their own
# build tree and runs each for SECONDS (default 10), starting from its seed
# corpus in fuzz/corpus/NAME/, as many targets at once as there are build
# jobs. Prints one line per target:
#   fuzz target=NAME execs=N execs_per_s=N findings=N
# (execs_per_s is libFuzzer's average over the run, start-up included).
# Crash inputs are kept as build/fuzz/findings/NAME/crash-*; the script
# exits non-zero when any target found one.
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

seconds="${1:-10}"
kel_ensure_packages "${KEL_NATIVE_PACKAGES[@]}" "${KEL_FUZZ_PACKAGES[@]}"

dir="$KEL_BUILD_ROOT/fuzz"
mkdir -p "$dir"
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
targets=()
for src in fuzz/*_fuzz.cpp; do
  name=$(basename "$src" _fuzz.cpp)
  targets+=("fuzz_$name")
done
KEL_TARGETS="${targets[*]}" kel_build "$dir" -DKEL_FUZZ=ON -DKEL_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  "${launcher[@]}" >"$dir.build.log" 2>&1 || { tail -40 "$dir.build.log"; exit 1; }

# AddressSanitizer keeps freed memory out of use for a while to catch uses
# after free; 16 MB of it spans many inputs of every target, and memory
# that comes back sooner is still mapped, where the default 256 MB made
# each allocation fault in fresh pages (a third of the reply targets' time).
# An allocation's stack is kept five calls deep rather than thirty: taking
# it was a tenth of the reply targets' time, and five calls still place it.
export ASAN_OPTIONS="quarantine_size_mb=16:malloc_context_size=5${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# run_target TARGET: one target's run, its line and any finding's trace
# written to $dir/NAME.result.
run_target() {
  local target="$1" name work found log seeds execs rate findings
  name=${target#fuzz_}
  work="$dir/corpus/$name" found="$dir/findings/$name"
  rm -rf "$found"
  mkdir -p "$work" "$found"
  log="$dir/$name.log"
  # The seeds are read, never written: new inputs go to the build tree.
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  "$dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$found/" -print_final_stats=1 "$work" "${seeds[@]}" \
    >"$log" 2>&1 || true
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+).*/\1/p' "$log" | tail -1)
  findings=$(find "$found" -type f | wc -l)
  {
    echo "fuzz target=$name execs=${execs:-0} execs_per_s=${rate:-0} findings=$findings"
    if [ "$findings" -gt 0 ] || [ -z "$execs" ]; then
      grep -E 'ERROR|SUMMARY|#[0-9]+ 0x' "$log" | head -20 || true
    fi
  } >"$dir/$name.result"
}

# Each target runs on one core, so as many run at once as there are build
# jobs (KEL_FUZZ_JOBS overrides); the lines come out in the targets' order.
jobs="${KEL_FUZZ_JOBS:-$KEL_JOBS}"
running=0
for target in "${targets[@]}"; do
  rm -f "$dir/${target#fuzz_}.result"
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait || true

total_findings=0
for target in "${targets[@]}"; do
  result="$dir/${target#fuzz_}.result"
  if [ -f "$result" ]; then
    cat "$result"
    grep -q '^fuzz target=.* execs=[1-9][0-9]* .*findings=0$' "$result" ||
      total_findings=$((total_findings + 1))
  else
    echo "fuzz target=${target#fuzz_} execs=0 execs_per_s=0 findings=0"
    total_findings=$((total_findings + 1))
  fi
done
[ "$total_findings" -eq 0 ]
