#!/usr/bin/env bash
# Builds KelUpdater and the unit simulator, serves the demo network (a KD4
# display with two KT5 transmitters behind it) on a pseudo-terminal, and
# interrogates it with KelUpdater -i -y.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages cmake g++ make python3
dir="$KEL_BUILD_ROOT/demo"
mkdir -p "$KEL_BUILD_ROOT"
kel_build "$dir" -DCMAKE_BUILD_TYPE=Release -DKEL_BUILD_TESTS=OFF

scenario="$KEL_ROOT/sim/scenarios/demo.scn"
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

kel_log "KelUpdater -i -y ${port#com}"
rc=0
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" PONDERIXCOMDIR="$work/com" \
  "$dir/KelUpdater" -i -y "${port#com}" </dev/null || rc=$?
echo
kel_log "KelUpdater ended with exit code $rc"
exit "$rc"
