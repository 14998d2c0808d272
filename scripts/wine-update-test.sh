#!/usr/bin/env bash
# Updates simulated units with the Windows program under wine: the native
# simulator serves units on a pseudo-terminal mapped into the wine prefix as
# a COM port, with its dump of the units' state at the end.
#  1. A direct update: a KT3 transmitter at 5.90 alone on the port;
#     `KelUpdater.exe -y <port>` restarts it into its boot loader, downloads
#     the flash programmer, writes software and language files, restarts it,
#     and the dump shows it at 6.10r57.
#  2. A field update: sim/scenarios/demo.scn (a KD4 display with two KT5
#     transmitters behind it); `KelUpdater.exe -y <port>` sends all three
#     update files and restarts the system, and the dump shows all three at
#     6.10r57.
#
#   scripts/wine-update-test.sh <KelUpdater.exe> <ponderix-sim>
#
# Uses $WINEPREFIX (made if missing). Prints a PASS or FAIL line per check
# and "N passed, M failed" last; exits non-zero on any failure.
set -euo pipefail

exe="${1:?usage: wine-update-test.sh <KelUpdater.exe> <ponderix-sim>}"
sim="${2:?usage: wine-update-test.sh <KelUpdater.exe> <ponderix-sim>}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
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

work="$(mktemp -d /tmp/kel-wine-update.XXXXXX)"
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    # The simulator writes its dump and removes its links on the way out.
    for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
  rm -f "$prefix/dosdevices/com$port"
}
cleanup() {
  stop_sim
  rm -rf "$work"
}
trap cleanup EXIT

for f in "$exe" "$sim"; do
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

# Serves scenario file $1 with its dump going to $work/dump-$2.
serve() {
  # wineserver reads the dosdevices folder when it starts and keeps what it
  # saw, so the COM link must be in place before any wine program runs.
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  timeout 60 wineserver -w >/dev/null 2>&1 || true
  rm -f "$prefix/dosdevices/com$port"
  mkdir -p "$work/com-$2"
  "$sim" --scenario "$1" --port "$port" --comdir "$work/com-$2" --wineprefix "$prefix" \
    --dump "$work/dump-$2" --exit-after-idle 300 >"$work/sim-$2.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$prefix/dosdevices/com$port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -L "$prefix/dosdevices/com$port" ]; then
    fail "$2: simulator did not link COM$port into $prefix/dosdevices"
    cat "$work/sim-$2.log"
    return 1
  fi
  timeout 60 wineserver -p5 </dev/null >/dev/null 2>&1 || true
}

# Runs the program (a copy in a folder of its own) with the arguments after
# $1, the run's name; output in $work/$1.out, exit code in $code.
code=0
run_exe() {
  local name="$1"
  shift
  local app="$work/app-$name"
  mkdir -p "$app"
  cp "$exe" "$app/KelUpdater.exe"
  code=0
  (cd "$app" && timeout 600 wine ./KelUpdater.exe "$@" </dev/null) >"$work/$name.raw" 2>&1 ||
    code=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
}

expect_text() {  # <run name> <check name> <text>
  if grep -qF -- "$3" "$work/$1.out"; then
    pass "$1: $2"
  else
    fail "$1: $2: no \"$3\""
    cat "$work/$1.out"
  fi
}

expect_state() {  # <run name> <unit> <key> <value>
  local file="$work/dump-$1/com$port/$2/unit.txt"
  if grep -qxF -- "$3 = $4" "$file" 2>/dev/null; then
    pass "$1: $2 $3 $4"
  else
    fail "$1: $2 has no \"$3 = $4\" in its dump"
    cat "$file" 2>/dev/null || true
  fi
}

# 1. Direct update of a KT3 at 5.90.
cat >"$work/kt3.scn" <<'SCN'
[unit kt3]
place = connected
card = 648
circuit = 1
software = 5.90r10
boot-loader = 4r18
modbus = 4
buffer-size = 128
programmer-buffer-size = 8192
SCN
if serve "$work/kt3.scn" direct; then
  run_exe direct -y "$port"
  if [ "$code" -eq 0 ]; then pass "direct: exit code 0"; else fail "direct: exit code $code"; fi
  expect_text direct "software decided" "-- ponderix software will be updated to 6.10r57"
  expect_text direct "programmer downloaded" "Downloading programmer..."
  expect_text direct "unit restarted" "restarting unit..."
  expect_text direct "success line" "Success: all operations are complete"
  stop_sim
  expect_state direct kt3 software 6.10r57
  expect_state direct kt3 boot-loader 4r18
  if [ -f "$work/dump-direct/com$port/kt3/drive-001/file-01E0.bin" ]; then
    pass "direct: language file written"
  else
    fail "direct: no language file 0x1E0 in the unit"
  fi
fi

# 2. Field update of the demo network.
if serve "$root/sim/scenarios/demo.scn" field; then
  run_exe field -y "$port"
  if [ "$code" -eq 0 ]; then pass "field: exit code 0"; else fail "field: exit code $code"; fi
  expect_text field "unit table" "Ponderix Unit(s) found:"
  for unit in 3 10 12; do expect_text field "unit $unit" "Ponderix Unit: $unit updated"; done
  expect_text field "success line" "Success: all operations are complete"
  # The restarted units apply their update files once their restart is over.
  sleep 3
  stop_sim
  for unit in kd4 kt5-left kt5-right; do expect_state field "$unit" software 6.10r57; done
fi

finish
