#!/usr/bin/env bash
# Runs the Windows build under wine: the unit tests (kel_tests.exe) and
# checks of KelUpdater.exe itself (banner, usage text, exit codes, the
# parameter file's "Message", the log file beside the program).
# Usage: wine-tests.sh <Windows build folder> [native ponderix-sim]
# The native simulator serves units to the Windows program; without the
# second argument it is taken from the native Debug build beside the
# Windows one (test-debug), and built there if missing.
# Prints "N passed, M failed" last and exits non-zero on any failure.
set -euo pipefail

build="${1:?usage: wine-tests.sh <Windows build folder> [native ponderix-sim]}"
build="$(cd "$build" && pwd)"
sim="${2:-${KEL_SIM_PROGRAM:-$(dirname "$build")/test-debug/ponderix-sim}}"

work="$(mktemp -d /tmp/kel-wine.XXXXXX)"
# A throw-away wine prefix, headless and quiet.
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export DISPLAY=
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
unset PONDERIXPORTLIST PONDERIXPORT PONDERIXBAUDRATE PONDERIXLOCKDIR PONDERIXPATH || true

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

echo "== preparing wine prefix"
if ! timeout 600 wineboot -i >"$work/wineboot.log" 2>&1; then
  cat "$work/wineboot.log"
  echo "wineboot failed"
  echo "0 passed, 1 failed"
  exit 1
fi
wineserver -w 2>/dev/null || true

# --- unit tests -------------------------------------------------------------
# count_gtest <name> <exit code> <log>: adds a gtest run's counts.
count_gtest() {
  local name="$1" rc="$2" log="$3" ok bad
  tr -d '\r' <"$log" | grep -E '^\[  (FAILED|PASSED)  \]|^\[==========\]|: Failure$' || true
  ok=$(tr -d '\r' <"$log" | sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' | tail -1)
  bad=$(tr -d '\r' <"$log" | sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' | tail -1)
  passed=$((passed + ${ok:-0}))
  failed=$((failed + ${bad:-0}))
  if [ "$rc" -ne 0 ] && [ "${bad:-0}" -eq 0 ]; then
    tail -30 "$log"
    fail "$name ended with exit code $rc"
  fi
}

echo "== kel_tests.exe"
rc=0
timeout 1200 wine "$build/kel_tests.exe" </dev/null >"$work/gtest.log" 2>&1 || rc=$?
count_gtest kel_tests.exe "$rc" "$work/gtest.log"

# The serial port tests need an echoing COM port mapped into the prefix.
serial_script="$(dirname "${BASH_SOURCE[0]}")/wine-serial-test.sh"
if [ -f "$serial_script" ]; then
  echo "== kel_tests.exe serial tests on a mapped COM port"
  rc=0
  timeout 600 bash "$serial_script" "$build/kel_tests.exe" </dev/null >"$work/serial.log" 2>&1 || rc=$?
  count_gtest "serial tests" "$rc" "$work/serial.log"
fi

# --- KelUpdater.exe -i against the simulator --------------------------------
# count_summary <name> <exit code> <log>: adds a script's "N passed, M failed".
count_summary() {
  local name="$1" rc="$2" log="$3" line
  # All of it when something failed: the checks show the program's output.
  if [ "$rc" -ne 0 ]; then cat "$log"; else grep -E '^(PASS|FAIL): ' "$log" || true; fi
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || true)
  if [ -n "$line" ]; then
    passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
    failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
  fi
  if [ "$rc" -ne 0 ] && { [ -z "$line" ] || [ "$(cut -d' ' -f3 <<<"$line")" -eq 0 ]; }; then
    fail "$name ended with exit code $rc"
  fi
}

interrogate_script="$(dirname "${BASH_SOURCE[0]}")/wine-interrogate-test.sh"
if [ -f "$interrogate_script" ]; then
  echo "== KelUpdater.exe -i against the simulator"
  if [ ! -x "$sim" ]; then
    # Build the native simulator where the native Debug build lives.
    (
      source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
      native="$(dirname "$sim")"
      mkdir -p "$native"
      KEL_TARGETS=ponderix-sim kel_build "$native" -DCMAKE_BUILD_TYPE=Debug
    ) >"$work/sim-build.log" 2>&1 || { tail -30 "$work/sim-build.log"; true; }
  fi
  rc=0
  timeout 600 bash "$interrogate_script" "$build/KelUpdater.exe" "$sim" </dev/null \
    >"$work/interrogate.log" 2>&1 || rc=$?
  count_summary "interrogation under wine" "$rc" "$work/interrogate.log"
fi

update_script="$(dirname "${BASH_SOURCE[0]}")/wine-update-test.sh"
if [ -f "$update_script" ] && [ -x "$sim" ]; then
  echo "== KelUpdater.exe updates against the simulator"
  rc=0
  timeout 1200 bash "$update_script" "$build/KelUpdater.exe" "$sim" </dev/null \
    >"$work/update.log" 2>&1 || rc=$?
  count_summary "updates under wine" "$rc" "$work/update.log"
fi

# --- KelUpdater.exe ---------------------------------------------------------
# A copy in a folder of its own, so its LogFiles folder is ours alone.
app="$work/app"
mkdir -p "$app"
cp "$build/KelUpdater.exe" "$app/"

# run_app <name> <args...>: runs KelUpdater.exe in $app with no input;
# output (carriage returns removed) in $work/<name>.out, code in $code.
run_app() {
  local name="$1"
  shift
  code=0
  (cd "$app" && timeout 120 wine ./KelUpdater.exe "$@" </dev/null) >"$work/$name.raw" 2>&1 || code=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
}

expect_code() {  # <check name> <wanted>
  if [ "$code" -eq "$2" ]; then pass "$1: exit code $2"; else fail "$1: exit code $code, wanted $2"; fi
}

expect_text() {  # <check name> <file> <text>
  if grep -qF -- "$3" "$2"; then pass "$1: shows \"$3\""; else fail "$1: no \"$3\""; cat "$2"; fi
}

cat >"$work/usage.txt" <<'USAGE'
Usage: KelUpdater [options] [Filename] [[COM]<port>]

-i           Interrogate unit and show information, do not update
-x           Extract debug logs
-y           Yes to prompts (continues without waiting for key)
-v           Verify on
-s           Silence extra information
-w           Write always, even if its the correct version
-l           Update boot loader if needed
-f           only update the first unit directly connected to the serial
             port (no remote updates). Does NOT use update files
-d           Debug on
-dd          Detailed Debug on (shows com data)
-b           Set the initial baud rate
-p<n>        Start with parity setting where n = 0 (none), 1 (even)
-r           Set the baud rate for programming to one of the following:
             115200, 230400, 460800, 921600
-u<ID>       Unit ID
-o           Overlapped writes to flash, uses sliding window programming
             protocol if possible
--plan       Show what an update would do to each unit; write nothing
--list-ports  List the serial ports a search tries, then exit
--help       Show this text, then exit
--version    Show the program's version, then exit

[filename]   Parameter file

port         1, 2, 3, 4...
             or the port's serial device, such as /dev/ttyUSB0 (Linux)

default setting for auto-search are 19200 baud, no parity.
USAGE

echo "== KelUpdater.exe --list-ports"
# The ports of the system's device map (or COM1 to COM99 where it has none);
# no port is opened, no log is made.
run_app ports --list-ports
expect_code "--list-ports" 0
expect_text "--list-ports" "$work/ports.out" "KelUpdater 6.10r57"
if [ ! -d "$app/LogFiles" ]; then pass "--list-ports: no log"; else fail "--list-ports made a log"; fi
cat "$work/ports.out"

echo "== KelUpdater.exe --help, --version"
# Both answer at once with exit code 0: no pause, no log.
run_app help --help
expect_code "--help" 0
expect_text "--help" "$work/help.out" "--version    Show the program's version, then exit"
run_app version --version
expect_code "--version" 0
expect_text "--version" "$work/version.out" "KelUpdater 6.10r57"
if ! grep -q "Press Enter" "$work/help.out" "$work/version.out"; then
  pass "--help and --version: no pause"
else
  fail "--help or --version paused"
fi

echo "== KelUpdater.exe -y -z"
run_app usage -y -z
expect_code "unknown option" 1
if [ "$(head -1 "$work/usage.out")" = "KelUpdater 6.10r57" ]; then
  pass "banner"
else
  fail "banner: $(head -1 "$work/usage.out")"
fi
# The usage text must stand complete and unchanged right after the banner.
if [ "$(sed -n "2,$(( $(wc -l <"$work/usage.txt") + 1 ))p" "$work/usage.out")" = "$(cat "$work/usage.txt")" ]; then
  pass "usage text"
else
  fail "usage text differs:"
  diff <(sed -n '2,27p' "$work/usage.out") "$work/usage.txt" || true
fi
expect_text "unknown option" "$work/usage.out" "Fatal Error: Incorrect arguments"
# Through a pipe the bytes are exactly those written: every line ends in one
# "\r\n" (a text-mode stream would make it "\r\r\n").
{
  printf 'KelUpdater 6.10r57\r\n'
  sed 's/$/\r/' "$work/usage.txt"
  printf 'Fatal Error: Incorrect arguments\r\n'
} >"$work/usage.expected"
(cd "$app" && timeout 120 wine ./KelUpdater.exe -y -z </dev/null 2>/dev/null | cat >"$work/usage.piped") || true
if cmp -s "$work/usage.piped" "$work/usage.expected"; then
  pass "usage text through a pipe is byte-exact"
else
  fail "usage text through a pipe differs:"
  cmp "$work/usage.piped" "$work/usage.expected" || true
  od -c "$work/usage.piped" | head -5
fi
if grep -q "Press Enter key to continue" "$work/usage.out"; then fail "-y still prompts"; else pass "-y does not prompt"; fi

echo "== KelUpdater.exe -z (no -y, input closed)"
run_app prompt -z
expect_code "prompt at end of input" 1
expect_text "prompt at end of input" "$work/prompt.out" "Press Enter key to continue"

echo "== KelUpdater.exe cfg.ini -y -z"
printf 'KelManufacture=0\r\nMessage=old\r\n' >"$app/cfg.ini"
run_app param cfg.ini -y -z
expect_code "fatal error with a parameter file" 2
if tr -d '\r' <"$app/cfg.ini" | grep -qx "Message=Incorrect arguments"; then
  pass "message stored in the parameter file"
else
  fail "parameter file holds: $(tr -d '\r' <"$app/cfg.ini" | tr '\n' '|')"
fi

echo "== KelUpdater.exe -y -i 99 (no such port)"
run_app log -y -i 99
if [ "$code" -ne 0 ] && [ "$code" -ne 124 ]; then pass "missing port: fails (exit code $code)"; else fail "missing port: exit code $code"; fi
log=$(ls "$app/LogFiles/"20*.log 2>/dev/null | head -1 || true)
if [ -n "$log" ] && [[ "$(basename "$log")" =~ ^20[0-9]{2}-[0-9]{2}-[0-9]{2}\ [0-9]{2}-[0-9]{2}-[0-9]{2}\.log$ ]]; then
  pass "log file $(basename "$log") in LogFiles beside the program"
  expect_text "log header" "$log" "COMPUTERNAME="
else
  fail "no log file in $app/LogFiles"
  ls -la "$app" "$app/LogFiles" 2>/dev/null || true
fi
expect_text "log file named on the console" "$work/log.out" "LogFile         : "

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
