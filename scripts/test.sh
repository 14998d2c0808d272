#!/usr/bin/env bash
# The one test command:
#  - the native Release build (the program statically linked, as packaged,
#    with the simulator, the campaign and the benchmarks), which must print
#    no warning;
#  - four production stations at once against the simulator, and the short
#    fault campaign, in that build;
#  - the Debian package made from that build, installed into a scratch
#    root, its program run and its manual page rendered;
#  - a Debug build under AddressSanitizer and UndefinedBehaviorSanitizer
#    with the whole suite (its end-to-end tests run that build's program and
#    simulator) and a campaign again; no warning either;
#  - the Windows cross-build (Release, no warning either) with its tests and
#    program checks under wine, and its zip package;
#  - a short run of every fuzz target.
# The suite is compiled once natively, in the sanitizer build: the shipped
# Release program is checked by the campaign, the stations, the interrupted
# runs and the package step.
# Exits non-zero when anything fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages "${KEL_NATIVE_PACKAGES[@]}" "${KEL_WINDOWS_PACKAGES[@]}" "${KEL_FUZZ_PACKAGES[@]}" \
  "${KEL_PACKAGE_PACKAGES[@]}"
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
  local before=$failed start=$SECONDS
  if "$@"; then
    kel_log "$name: ok ($((SECONDS - start)) s)"
  else
    kel_log "$name: FAILED ($((SECONDS - start)) s)"
    failed_steps+=("$name")
    # A step that broke before its tests ran still counts as one failure.
    # (An if, not "&&": a false test as the function's last command would
    # end the whole script under set -e and skip the later steps.)
    if [ "$failed" -eq "$before" ]; then failed=$((failed + 1)); fi
  fi
}

# no_warnings <build log>: fails, showing them, when the build warned.
no_warnings() {
  if grep -qiE '(^|[^a-z_-])warning[: ]' "$1"; then
    kel_log "the build printed warnings:"
    grep -iE -B2 -A6 '(^|[^a-z_-])warning[: ]' "$1" | head -80
    return 1
  fi
}

# build_logged <folder> [cmake options...]: kel_build, its output also kept
# in <folder>.build.log.
build_logged() {
  local dir="$1"
  mkdir -p "$dir"
  kel_build "$@" 2>&1 | tee "$dir.build.log"
  return "${PIPESTATUS[0]}"
}

# ctest_suite <folder>: the whole suite of a built tree, counted.
ctest_suite() {
  local dir="$1"
  local log="$dir.ctest.log" rc=0
  # Most end-to-end tests wait on pseudo-terminals and timeouts rather than
  # compute, so more of them run at once than there are cores.
  (cd "$dir" && ctest --output-on-failure -j"$KEL_CTEST_JOBS") 2>&1 | tee "$log" || rc=$?
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
  build_logged "$dir" "$@" || return 1
  no_warnings "$dir.build.log" || rc=1
  ASAN_OPTIONS="log_path=$reports/asan:exitcode=86:detect_leaks=1" \
    UBSAN_OPTIONS="log_path=$reports/ubsan:halt_on_error=1:exitcode=86:print_stacktrace=1" \
    ctest_suite "$dir" || rc=1
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

# The Release build: the build log must hold no warning.
release_build() {
  local dir="$1"
  build_logged "$@" || return 1
  no_warnings "$dir.build.log"
}

# The Debian package from the Release tree: unpacked into a scratch root,
# it holds the program, its manual page, the README and the troubleshooting
# page and depends on no other package; the installed program runs and the
# page renders cleanly.
package_tests() {
  local dir="$1" root="$KEL_BUILD_ROOT/package-root" deb
  deb=$(KEL_PACKAGE_LINUX_BUILD="$dir" KEL_PACKAGE_LINUX_TARGETS="kel_man_page" \
    bash "$KEL_ROOT/scripts/package.sh" deb | tail -1) || return 1
  kel_log "package $deb"
  rm -rf "$root"
  dpkg-deb -x "$deb" "$root" || return 1
  local bad=0 depends
  depends=$(dpkg-deb -f "$deb" Depends)
  [ -z "$depends" ] || { kel_log "package depends on: $depends"; bad=1; }
  local file
  for file in usr/bin/KelUpdater usr/share/man/man1/KelUpdater.1 usr/share/doc/kelupdater/README.md \
    usr/share/doc/kelupdater/troubleshooting.md; do
    [ -f "$root/$file" ] || { kel_log "package lacks /$file"; bad=1; }
  done
  # A wrong option: banner, usage text, "Incorrect arguments", exit code 1.
  local out code=0
  out=$(cd "$root" && ./usr/bin/KelUpdater -y -z </dev/null 2>&1) || code=$?
  if [ "$code" -ne 1 ] || ! grep -q '^KelUpdater 6' <<<"$out" ||
    ! grep -q 'Fatal Error: Incorrect arguments' <<<"$out"; then
    kel_log "installed KelUpdater -y -z: exit code $code, output:"
    printf '%s\n' "$out"
    bad=1
  fi
  # An ordinary user cannot write /usr/bin: the installed program keeps its
  # log in the user's state folder instead (needs root, to be "nobody").
  # The package is unpacked again where nobody can reach it (a build root
  # may lie in a private home); as root with setpriv, a skip is a failure.
  if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    local home state open
    open=$(mktemp -d)
    chmod 755 "$open"
    dpkg-deb -x "$deb" "$open/root" || bad=1
    chmod 755 "$open/root"
    if ! setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$open/root/usr/bin/KelUpdater"; then
      kel_log "package: nobody cannot run $open/root/usr/bin/KelUpdater"
      bad=1
    else
      home=$(mktemp -d)
      mkdir "$home/com"
      chown nobody "$home" "$home/com"
      code=0
      out=$(cd "$home" && setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -u XDG_STATE_HOME HOME="$home" PONDERIXCOMDIR="$home/com" PONDERIXLOCKDIR="$home" \
        "$open/root/usr/bin/KelUpdater" -y 9 </dev/null 2>&1) || code=$?
      state="$home/.local/state/KelUpdater"
      if [ "$code" -ne 1 ] || ! ls "$state/LogFiles/"20*.log >/dev/null 2>&1 ||
        [ -e "$open/root/usr/bin/LogFiles" ] || [ "$(stat -c %a "$state")" != 700 ]; then
        kel_log "installed KelUpdater -y 9 as nobody: exit code $code, no log in $state/LogFiles:"
        printf '%s\n' "$out"
        bad=1
      fi
      rm -rf "$home"
    fi
    rm -rf "$open"
  else
    kel_log "package: the run as an ordinary user is skipped (needs root and setpriv)"
  fi
  # man -l renders the installed page; groff's warnings fail the check.
  local page warnings
  page=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man -l "$root/usr/share/man/man1/KelUpdater.1" 2>&1) || bad=1
  warnings=$(LC_ALL=C groff -man -Tutf8 -ww -z "$root/usr/share/man/man1/KelUpdater.1" 2>&1 || true)
  if [ -n "$warnings" ]; then
    kel_log "the manual page has faults:"
    printf '%s\n' "$warnings"
    bad=1
  fi
  local section
  for section in SYNOPSIS OPTIONS ENVIRONMENT FILES 'EXIT STATUS' EXAMPLES PONDERIXLOCKDIR dialout; do
    grep -q "$section" <<<"$page" || { kel_log "rendered page lacks $section"; bad=1; }
  done
  # Every exit code the program uses has its entry under EXIT STATUS.
  local status
  status=$(sed -n '/^EXIT STATUS/,/^EXAMPLES/p' <<<"$page")
  for code in 0 1 2 3; do
    grep -Eq "^ +$code( |$)" <<<"$status" || { kel_log "EXIT STATUS lacks exit code $code"; bad=1; }
  done
  [ "$bad" -eq 0 ] && kel_log "package: installs, runs, manual page renders"
  return $bad
}

windows_tests() {
  local dir="$KEL_BUILD_ROOT/test-win" rc=0
  # Only what runs under wine: benchmarks and tools may be POSIX-only.
  KEL_TARGETS="KelUpdater kel_tests" build_logged "$dir" -DCMAKE_BUILD_TYPE=Release \
    "${KEL_WINDOWS_RELEASE_OPTIONS[@]}" || return 1
  no_warnings "$dir.build.log" || rc=1
  local log="$dir.wine.log"
  bash "$KEL_ROOT/scripts/wine-tests.sh" "$dir" "$KEL_BUILD_ROOT/test-release/ponderix-sim" 2>&1 |
    tee "$log" || rc=1
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || true)
  if [ -n "$line" ]; then
    passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
    failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
  fi
  # The zip from the same tree: the program and the README with CR LF ends.
  local zip
  zip=$(KEL_PACKAGE_WIN_BUILD="$dir" KEL_PACKAGE_WIN_TARGETS="KelUpdater" \
    bash "$KEL_ROOT/scripts/package.sh" zip | tail -1) || return 1
  kel_log "package $zip"
  local listing
  listing=$(unzip -Z1 "$zip") || return 1
  grep -qE '(^|/)KelUpdater\.exe$' <<<"$listing" || { kel_log "zip lacks KelUpdater.exe"; rc=1; }
  grep -qE '(^|/)troubleshooting\.txt$' <<<"$listing" || { kel_log "zip lacks troubleshooting.txt"; rc=1; }
  unzip -p "$zip" '*README.txt' >"$dir.README.txt" || rc=1
  if ! head -3 "$dir.README.txt" | grep -q $'\r$'; then
    kel_log "zip lacks README.txt with CR LF line ends"
    rc=1
  fi
  return $rc
}

release="$KEL_BUILD_ROOT/test-release"
# Everything but the suite, which the sanitizer build compiles and runs.
release_targets="KelUpdater ponderix-sim kel_campaign kel-boot-stand-in kel_man_page"
for bench in bench/*.cpp; do release_targets+=" $(basename "$bench" .cpp)"; done
KEL_TARGETS="$release_targets" run_step "native Release build" release_build "$release" \
  -DCMAKE_BUILD_TYPE=Release "${KEL_LINUX_RELEASE_OPTIONS[@]}"
run_step "stations bench, 4 stations at once (correctness)" "$release/stations_bench" --stations 4 --quick
run_step "fault campaign (short)" env KEL_CAMPAIGN_BUILD="$release" bash "$KEL_ROOT/scripts/campaign.sh"
run_step "Debian package" package_tests "$release"
# Only what runs there: the suite (with the programs it starts) and the
# campaign; the benchmarks are built once, in the Release tree.
KEL_TARGETS="kel_tests kel_campaign" run_step "sanitizer build and tests" sanitizer_tests \
  "$KEL_BUILD_ROOT/test-asan" -DCMAKE_BUILD_TYPE=Debug -DKEL_SANITIZE=ON
run_step "Windows build, wine checks and zip" windows_tests
run_step "fuzzing, ${KEL_FUZZ_SECONDS:-10} s per target" bash "$KEL_ROOT/scripts/fuzz.sh" "${KEL_FUZZ_SECONDS:-10}"

if [ ${#failed_steps[@]} -gt 0 ]; then
  kel_log "failed: ${failed_steps[*]}"
fi
echo "total: $passed passed, $failed failed"
[ ${#failed_steps[@]} -eq 0 ]
