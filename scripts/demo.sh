#!/usr/bin/env bash
# Builds KelUpdater and the unit simulator, serves the demo network (a KD4
# display with two KT5 transmitters and an old KT3 transmitter behind it) on
# a pseudo-terminal, and updates it with a plain run of KelUpdater -y: update
# files for the display and the KT5s, applied at once by a system restart,
# and the advice to update the KT3 over its own serial port. The units'
# versions afterwards are shown by KelUpdater -i -y.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages cmake g++ make python3
dir="$KEL_BUILD_ROOT/demo"
mkdir -p "$KEL_BUILD_ROOT"
kel_build "$dir" -DCMAKE_BUILD_TYPE=Release -DKEL_BUILD_TESTS=OFF

scenario="$KEL_ROOT/sim/scenarios/demo_update.scn"
if [ ! -x "$dir/ponderix-sim" ] || [ ! -f "$scenario" ]; then
  kel_log "the simulator or its demo scenario is missing; nothing to demonstrate"
  exit 1
fi

work="$(mktemp -d)"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/com" "$work/home"
kel_log "ponderix-sim --scenario $scenario --comdir $work/com"
"$dir/ponderix-sim" --scenario "$scenario" --comdir "$work/com" --exit-after-idle 120 \
  >"$work/sim.log" 2>&1 &
sim_pid=$!

# The simulator links comN to its pseudo-terminal once it serves the port.
for _ in $(seq 1 100); do
  compgen -G "$work/com/com*" >/dev/null && break
  sleep 0.05
done
cat "$work/sim.log"
port="$(basename "$(compgen -G "$work/com/com*" | head -n1)")"
if [ -z "$port" ]; then
  kel_log "the simulator did not start serving a port"
  exit 1
fi

run_updater() {
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" PONDERIXCOMDIR="$work/com" \
    "$dir/KelUpdater" "$@" </dev/null
}

history="$dir/LogFiles/UpdateHistory.csv"
history_before=0
[ -f "$history" ] && history_before="$(wc -l <"$history")"

kel_log "KelUpdater -y ${port#com}"
rc=0
run_updater -y "${port#com}" || rc=$?
echo
kel_log "KelUpdater ended with exit code $rc"
# The old KT3 cannot take a network update: the run ends "Complete: some
# units could not be updated" with exit code 3, as it must. Anything else
# that is not a success ends the demo.
if [ "$rc" -ne 0 ] && [ "$rc" -ne 3 ]; then
  exit "$rc"
fi

# The run's rows of the update history, one per unit.
kel_log "update history rows of this run ($history):"
[ "$history_before" -eq 0 ] && history_before=1  # the header row
tail -n +"$((history_before + 1))" "$history" | tr -d '\r'

# The restarted units apply their update files before they answer again.
sleep 2
kel_log "KelUpdater -i -y ${port#com}, the units' software afterwards:"
run_updater -i -y "${port#com}" | grep -E "^Ponderix Unit: |Unit Type|Software  " || true
