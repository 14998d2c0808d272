#!/usr/bin/env bash
# The one test command: native Debug build and tests, then four production
# stations at once against the simulator in that build (correctness only);
# the native tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows
# cross-build with its tests and program checks under wine, then a short
# run of every fuzz target. The short fault campaign runs after the native
# tests, in their build.
# Exits non-zero when anything fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages "${KEL_NATIVE_PACKAGES[@]}" "${KEL_WINDOWS_PACKAGES[@]}" "${KEL_FUZZ_PACKAGES[@]}"
mkdir -p "$KEL_BUILD_ROOT"

passed=0
failed=0
failed_steps=()

# Adds the counts from a ctest log ("... N tests failed out of T").
count_ctest() {
  local line
  line=$(grep -E 'tests? failed out of [0-9]+' "$1" | tail -1 || true)
  if [ -n "$line" ]; then
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
}

# run_step <name> <command...>: runs, records the result, never stops the script.
run_step() {
  local name="$1"
  shift
  kel_log "$name"
  local before=$failed
  if "$@"; then
    kel_log "$name: ok"
  else
    kel_log "$name: FAILED"
    failed_steps+=("$name")
    # A step that broke before its tests ran still counts as one failure.
    # (An if, not "&&": a false test as the function's last command would
    # end the whole script under set -e and skip the later steps.)
    if [ "$failed" -eq "$before" ]; then failed=$((failed + 1)); fi
  fi
}

native_tests() {
  local dir="$1"
  shift
  kel_build "$dir" "$@" || return 1
  local log="$dir.ctest.log" rc=0
  (cd "$dir" && ctest --output-on-failure -j"$KEL_JOBS") 2>&1 | tee "$log" || rc=$?
  count_ctest "$log"
  return $rc
}

# The sanitizer build's tests, with every report written to a file: a
# fault in a program the tests start (KelUpdater, whose expected exit code
# may be the 1 a sanitizer also uses, or the simulator serving in the
# background) fails the step even when the test that ran it passed.
sanitizer_tests() {
  local dir="$1"
  shift
  local reports="$dir.sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  local rc=0
  ASAN_OPTIONS="log_path=$reports/asan:exitcode=86:detect_leaks=1" \
    UBSAN_OPTIONS="log_path=$reports/ubsan:halt_on_error=1:exitcode=86:print_stacktrace=1" \
    native_tests "$dir" "$@" || rc=$?
  # The flash-and-file fault campaign under the sanitizers as well.
  if [ -x "$dir/kel_campaign" ]; then
    ASAN_OPTIONS="log_path=$reports/asan:exitcode=86" \
      UBSAN_OPTIONS="log_path=$reports/ubsan:halt_on_error=1:exitcode=86:print_stacktrace=1" \
      "$dir/kel_campaign" --scenario flash-and-file --random 3 || rc=$?
  fi
  if [ -n "$(ls -A "$reports")" ]; then
    kel_log "sanitizer reports:"
    cat "$reports"/*
    rc=1
  fi
  return $rc
}

windows_tests() {
  local dir="$KEL_BUILD_ROOT/test-win"
  # Only what runs under wine: benchmarks and tools may be POSIX-only.
  KEL_TARGETS="KelUpdater kel_tests" kel_build "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$KEL_ROOT/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release || return 1
  local log="$dir.wine.log" rc=0
  bash "$KEL_ROOT/scripts/wine-tests.sh" "$dir" 2>&1 | tee "$log" || rc=$?
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || true)
  if [ -n "$line" ]; then
    passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
    failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
  fi
  return $rc
}

run_step "native Debug build and tests" native_tests "$KEL_BUILD_ROOT/test-debug" -DCMAKE_BUILD_TYPE=Debug
run_step "stations bench, 4 stations at once (correctness)" \
  "$KEL_BUILD_ROOT/test-debug/stations_bench" --stations 4 --quick
run_step "fault campaign (short)" bash "$KEL_ROOT/scripts/campaign.sh"
run_step "sanitizer build and tests" sanitizer_tests "$KEL_BUILD_ROOT/test-asan" -DCMAKE_BUILD_TYPE=Debug -DKEL_SANITIZE=ON
run_step "Windows build and wine checks" windows_tests
run_step "fuzzing, ${KEL_FUZZ_SECONDS:-10} s per target" bash "$KEL_ROOT/scripts/fuzz.sh" "${KEL_FUZZ_SECONDS:-10}"

if [ ${#failed_steps[@]} -gt 0 ]; then
  kel_log "failed: ${failed_steps[*]}"
fi
echo "total: $passed passed, $failed failed"
[ ${#failed_steps[@]} -eq 0 ]
