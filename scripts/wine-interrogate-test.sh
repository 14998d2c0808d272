#!/usr/bin/env bash
# Interrogates simulated units with the Windows program under wine: the
# native simulator serves sim/scenarios/demo.scn (a KD4 display with two
# KT5 transmitters behind it) on a pseudo-terminal mapped into the wine
# prefix as a COM port, and `KelUpdater.exe -i -y <port>` must report all
# three units and write its log file.
#
#   scripts/wine-interrogate-test.sh <KelUpdater.exe> <ponderix-sim>
#
# Uses $WINEPREFIX (made if missing). Prints a PASS or FAIL line per check
# and "N passed, M failed" last; exits non-zero on any failure.
set -euo pipefail

exe="${1:?usage: wine-interrogate-test.sh <KelUpdater.exe> <ponderix-sim>}"
sim="${2:?usage: wine-interrogate-test.sh <KelUpdater.exe> <ponderix-sim>}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
scenario="$root/sim/scenarios/demo.scn"
port="${KEL_WINE_SIM_PORT:-7}"
prefix="${WINEPREFIX:-$HOME/.wine}"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

work="$(mktemp -d /tmp/kel-wine-sim.XXXXXX)"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    # The simulator removes its links on the way out; give it a moment.
    for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$prefix/dosdevices/com$port"
  rm -rf "$work"
}
trap cleanup EXIT

for f in "$exe" "$sim" "$scenario"; do
  if [ ! -f "$f" ]; then
    fail "missing $f"
    finish
    exit 1
  fi
done

if [ ! -d "$prefix/dosdevices" ]; then
  timeout 600 wineboot -i >/dev/null 2>&1 || true
fi
mkdir -p "$prefix/dosdevices"
# wineserver reads the dosdevices folder when it starts and keeps what it
# saw, so the COM link must be in place before any wine program runs.
timeout 60 wineserver -k >/dev/null 2>&1 || true
timeout 60 wineserver -w >/dev/null 2>&1 || true
rm -f "$prefix/dosdevices/com$port"

mkdir -p "$work/com"
"$sim" --scenario "$scenario" --port "$port" --comdir "$work/com" --wineprefix "$prefix" \
  --exit-after-idle 300 >"$work/sim.log" 2>&1 &
sim_pid=$!

for _ in $(seq 100); do
  [ -L "$prefix/dosdevices/com$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -L "$prefix/dosdevices/com$port" ]; then
  pass "simulator serves COM$port in the wine prefix"
else
  fail "simulator did not link COM$port into $prefix/dosdevices"
  cat "$work/sim.log"
  finish
  exit 1
fi

# A fresh server that sees the link; started here so that what it prints
# when it ends stays out of the program's output.
timeout 60 wineserver -p5 </dev/null >/dev/null 2>&1 || true

# A copy of the program in a folder of its own, so its LogFiles are ours.
app="$work/app"
mkdir -p "$app"
cp "$exe" "$app/KelUpdater.exe"
code=0
(cd "$app" && timeout 120 wine ./KelUpdater.exe -i -y "$port" </dev/null) >"$work/run.raw" 2>&1 ||
  code=$?
tr -d '\r' <"$work/run.raw" >"$work/run.out"

shown=0
expect_text() {  # <check name> <text>
  if grep -qF -- "$2" "$work/run.out"; then
    pass "$1"
  else
    fail "$1: no \"$2\""
    if [ "$shown" -eq 0 ]; then
      shown=1
      cat "$work/run.out"
      echo "-- simulator:"
      cat "$work/sim.log"
    fi
  fi
}

if [ "$code" -eq 0 ]; then pass "interrogation: exit code 0"; else fail "interrogation: exit code $code"; fi
expect_text "port opened" "COM$port opened"
expect_text "interrogation started" "-- interrogating unit"
expect_text "display type" "Unit Type       : KD4/KP4 Display"
expect_text "display report" "KD4 Display - Weighbridge 1"
expect_text "display serial number" "530017"
expect_text "remote units listed" "Ponderix Unit(s) found: 3 12"
expect_text "first remote unit" "Ponderix Unit: 3"
expect_text "first remote report" "KT5 Transmitter - Left load cells"
expect_text "second remote unit" "Ponderix Unit: 12"
expect_text "second remote report" "KT5 Transmitter - Right load cells"
if grep -qE "Fatal Error|FAILED" "$work/run.out"; then
  fail "interrogation reports an error"
  grep -nE "Fatal Error|FAILED" "$work/run.out" || true
else
  pass "no error reported"
fi

log=$(ls "$app/LogFiles/"20*.log 2>/dev/null | head -1 || true)
if [ -n "$log" ] && grep -qF "Ponderix Unit(s) found: 3 12" <(tr -d '\r' <"$log"); then
  pass "log file $(basename "$log") holds the interrogation"
else
  fail "no log file with the interrogation in $app/LogFiles"
  ls -la "$app/LogFiles" 2>/dev/null || true
fi

finish
