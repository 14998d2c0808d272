#!/usr/bin/env bash
# Interrupted runs: the real program against the simulator on a
# pseudo-terminal, stopped by a signal at sampled moments of a direct
# update with the boot loader (-l), a field update, a log extraction (-x)
# and a production job through a test jig. After each stop a second run
# must complete, and the units must then hold exactly what an uninterrupted
# run leaves them with (the simulator's --dump of both, compared file by
# file), every boot loader whole. SIGKILL leaves the port's lock behind:
# the second run must take it over, and a unit left in its RAM programmer
# is finished through it. Where only a power cycle can help, the runs must
# have asked for one: the simulator then switches the units off and on (its
# control channel) while the second run waits for it, or after the stopped
# run when that one asked; when the second run still fails, a third run
# after the power cycle must complete.
#
# The jobs that write a boot loader are also stopped on purpose inside that
# write, by each signal, and the units switched off and on before the
# second run, as an operator might: a stop waits until the boot loader is
# whole, so that must not matter. A killed run cannot wait: after it the
# second run goes without a power cycle (and finishes the boot loader
# through the programmer), and once more with one, which leaves a boot
# loader half written, as a power loss in the middle of the write would;
# that is counted as power_loss_in_boot_loader, not as a violation.
#   bash scripts/campaign_signals.sh BUILD_DIR [MOMENTS] [SIGNALS] [JOBS]
# MOMENTS: how many moments per job and signal (spread over the
# uninterrupted run's time; default 2); SIGNALS: default "INT TERM HUP KILL";
# JOBS: default "direct field extract production".
# Prints one line per interrupted run that broke the rules and
#   signals runs=N second_runs_completed=N after_power_cycle=N violations=N
#           boot_loader_broken=N power_loss_in_boot_loader=N
# and exits non-zero on any violation. With KEL_SIGNALS_KEEP=DIR the
# program's output of each violating run is kept in DIR.
set -uo pipefail
build="$1"
moments="${2:-2}"
signals="${3:-INT TERM HUP KILL}"
jobs="${4:-direct field extract production}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/kel-signals.XXXXXX")"
trap 'stop_sim; rm -rf "$work"' EXIT

sim_pid=0
runs=0
completed=0
power_cycled=0
violations=0
broken=0
power_loss=0

start_sim() { # scenario-file dump-dir [simulator arguments...]
  rm -rf "$work/com" && mkdir -p "$work/com"
  local scenario="$1" dump="$2"
  shift 2
  "$build/ponderix-sim" --scenario "$scenario" --comdir "$work/com" --exit-after-idle 60 \
    --dump "$dump" --control "$work/control" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 200); do
    [ -e "$work/com/com$port" ] && return 0
    sleep 0.025
  done
  echo "signals: the simulator did not start: $(cat "$work/sim.log")"
  return 1
}

power_cycle() {
  rm -f "$work/control.reply"
  printf 'power-cycle COM%s\n' "$port" >"$work/control.part" && mv "$work/control.part" "$work/control"
  for _ in $(seq 200); do
    [ -e "$work/control.reply" ] && break
    sleep 0.025
  done
}

stop_sim() {
  [ "$sim_pid" -gt 0 ] 2>/dev/null || return 0
  # A restart the run asked for last (ResetSystem, a Reset on the way out)
  # has its time before the dump, so that every dump shows the units after it.
  sleep 1
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=0
}

# Starts the program in the background (its pid in $run_pid), output to $1.
start_run() {
  rm -f "$1"
  (
    cd "$work/home" || exit 99
    [ -n "$job_text" ] && printf '%b' "$job_text" >job.ini
    exec env -u PONDERIXPORTLIST -u PONDERIXPORT -u PONDERIXBAUDRATE HOME="$work/home" \
      XDG_CONFIG_HOME="$work/home/config" PONDERIXCOMDIR="$work/com" \
      PONDERIXLOCKDIR="$work/locks" "$work/bin/KelUpdater" $arguments </dev/null >"$1" 2>&1
  ) &
  run_pid=$!
}

# The units' state as the dump shows it, without what legitimately differs
# from run to run (nothing at present).
same_units() { diff -r "$1" "$2" >"$work/diff.txt" 2>&1; }

# True when a unit of the dump has a boot region without a whole boot loader.
boot_loader_broken() { grep -rqs "^boot-region = broken" "$1"; }

violation() {
  violations=$((violations + 1))
  echo "signals violation job=$job signal=$signal at_ms=$at: $*"
  if [ -n "${KEL_SIGNALS_KEEP:-}" ]; then
    local keep="$KEL_SIGNALS_KEEP/$job-$signal-$at"
    mkdir -p "$keep" && cp "$work"/*.out "$keep/" 2>/dev/null
  fi
  echo "--- stopped run's end: $(tail -c 300 "$work/first.out" | tr '\r\n' '  ')"
  echo "--- second run's end: $(tail -c 300 "$work/second.out" 2>/dev/null | tr '\r\n' '  ')"
}

# One run stopped by $signal inside the boot-loader write, which a fault
# slows to about 2.8 s (its four records' replies come 700 ms late). With
# $2 = 1 the units are switched off and on before the second run.
stop_in_boot_loader() { # signal power-cycle-first
  signal="$1"
  local cycle="$2"
  at=boot-loader
  [ "$cycle" -eq 1 ] && at=boot-loader+power-cycle
  runs=$((runs + 1))
  rm -rf "$work/out" "$work/home" "$work/locks"
  mkdir -p "$work/home" "$work/locks"
  start_sim "$work/units.scn" "$work/out" --fault "late value=700 command=$slow_command times=4" ||
    return
  start_run "$work/first.out"
  local waited=0
  while ! grep -q "Preparing to update Boot Loader" "$work/first.out" 2>/dev/null &&
    kill -0 "$run_pid" 2>/dev/null && [ "$waited" -lt 1200 ]; do
    sleep 0.05
    waited=$((waited + 1))
  done
  sleep 0.3
  kill -"$signal" "$run_pid" 2>/dev/null
  wait "$run_pid" 2>/dev/null
  local rc=$?
  if [ "$signal" != KILL ] && ! grep -q -- "-- stopped" "$work/first.out"; then
    violation "stopped with exit code $rc and no \"-- stopped\""
  fi
  if [ "$signal" != KILL ] && ! grep -q -- "-- stop received" "$work/first.out"; then
    violation "the stop was not held until the boot loader was whole"
  fi
  [ "$cycle" -eq 1 ] && power_cycle && sleep 1
  start_run "$work/second.out"
  wait "$run_pid"
  rc=$?
  stop_sim
  if [ "$signal" = KILL ] && [ "$cycle" -eq 1 ] && boot_loader_broken "$work/out"; then
    # Killed in the middle of the write and switched off: as a power loss
    # there, the boot loader is half written and only the factory's boot
    # tool brings the unit back.
    power_loss=$((power_loss + 1))
  elif boot_loader_broken "$work/out"; then
    broken=$((broken + 1))
    violation "a boot loader is not whole: $(grep -rl '^boot-region = broken' "$work/out" | tr '\n' ' ')"
  elif [ "$rc" -ne 0 ]; then
    violation "second run failed ($rc): $(grep -m1 -o "Fatal Error: .*" "$work/second.out" | tr -d '\r')"
  elif grep -qi "power off and on" "$work/second.out" 2>/dev/null; then
    violation "the second run asked for a power cycle"
  elif ! same_units "$work/ref" "$work/out"; then
    violation "second run succeeded, units differ from an uninterrupted run: $(head -c 300 "$work/diff.txt" | tr '\n' ' ')"
  else
    completed=$((completed + 1))
  fi
}

run_job() { # name scenario-text port arguments parameter-file-text
  job="$1"
  port="$3"
  arguments="$4"
  job_text="$5"
  printf '%s' "$2" >"$work/units.scn"
  # The uninterrupted run: how long it takes and what it leaves.
  rm -rf "$work/ref" "$work/home" "$work/locks"
  mkdir -p "$work/home" "$work/locks"
  start_sim "$work/units.scn" "$work/ref" || return
  local t0 t1
  t0=$(date +%s%N)
  start_run "$work/ref.out"
  wait "$run_pid"
  local rc=$?
  t1=$(date +%s%N)
  stop_sim
  local total=$(((t1 - t0) / 1000000))
  if [ "$rc" -ne 0 ]; then
    echo "signals: job $job without a stop failed ($rc): $(tail -3 "$work/ref.out")"
    violations=$((violations + 1))
    return
  fi
  echo "signals-job name=$job ms=$total"
  for signal in $signals; do
    for k in $(seq "$moments"); do
      at=$((total * (2 * k - 1) / (2 * moments)))
      runs=$((runs + 1))
      rm -rf "$work/out" "$work/home" "$work/locks"
      mkdir -p "$work/home" "$work/locks"
      start_sim "$work/units.scn" "$work/out" || return
      start_run "$work/first.out"
      sleep "$(printf '%d.%03d' $((at / 1000)) $((at % 1000)))"
      kill -"$signal" "$run_pid" 2>/dev/null
      wait "$run_pid" 2>/dev/null
      rc=$?
      if [ "$signal" != KILL ] && [ "$rc" -ne 0 ] && ! grep -q -- "-- stopped" "$work/first.out" &&
        ! grep -q "Fatal Error: " "$work/first.out"; then
        violation "stopped with exit code $rc and neither \"-- stopped\" nor a fatal message"
      fi
      if [ "$signal" != KILL ] && [ -n "$(ls -A "$work/locks")" ]; then
        violation "the port's lock left behind"
      fi
      # The second run; when it asks for a power cycle, the units get one
      # while it waits, as an operator would give it.
      start_run "$work/second.out"
      local cycled=0
      while kill -0 "$run_pid" 2>/dev/null; do
        if [ "$cycled" -eq 0 ] && grep -qi "power off and on" "$work/second.out" 2>/dev/null; then
          power_cycle
          cycled=1
        fi
        sleep 0.1
      done
      wait "$run_pid"
      rc=$?
      if [ "$rc" -ne 0 ] && { [ "$cycled" -eq 1 ] ||
        grep -qi "power off and on\|power cycle" "$work/first.out"; }; then
        # A power cycle was asked for: a third run after it. (The simulator
        # does not hold a powered-on unit in its boot loader for a run that
        # listens for it, so a unit with software comes up in it.)
        [ "$cycled" -eq 0 ] && power_cycle
        cycled=1
        start_run "$work/second.out"
        wait "$run_pid"
        rc=$?
      fi
      [ "$rc" -eq 0 ] && [ "$cycled" -eq 1 ] && power_cycled=$((power_cycled + 1))
      stop_sim
      if boot_loader_broken "$work/out"; then
        broken=$((broken + 1))
        violation "a boot loader is not whole: $(grep -rl '^boot-region = broken' "$work/out" | tr '\n' ' ')"
      elif [ "$rc" -ne 0 ]; then
        local why
        why=$(grep -m1 -o "Fatal Error: .*" "$work/second.out" | tr -d '\r')
        grep -qi "power off and on\|power cycle" "$work/first.out" "$work/second.out" &&
          why="$why (after a power cycle)"
        violation "second run failed ($rc): ${why:-$(tail -1 "$work/second.out" | tr -d '\r')}"
      elif ! same_units "$work/ref" "$work/out"; then
        violation "second run succeeded, units differ from an uninterrupted run: $(head -c 300 "$work/diff.txt" | tr '\n' ' ')"
      else
        completed=$((completed + 1))
      fi
    done
  done
  # The jobs that write a boot loader, stopped inside that write.
  if grep -q "Preparing to update Boot Loader" "$work/ref.out"; then
    for signal in $signals; do
      stop_in_boot_loader "$signal" 1
      [ "$signal" = KILL ] && stop_in_boot_loader KILL 0
    done
  fi
}

mkdir -p "$work/bin"
cp "$build/KelUpdater" "$work/bin/KelUpdater"
demo="$(cat "$root/sim/scenarios/demo.scn")"
jig="$(cat "$root/sim/scenarios/kj3_jig.scn")"
for name in $jobs; do
  case "$name" in
    direct)
      slow_command=0x1042
      run_job direct "${demo/buffer-size = 1024/buffer-size = 8192}" 3 "-y -f -l 3" ""
      ;;
    field) run_job field "$demo" 3 "-y 3" "" ;;
    extract) run_job extract "$demo" 3 "-y -x 3" "" ;;
    production)
      slow_command=0x103A
      run_job production "$jig
buffer-size = 8192
" 1 "-y job.ini 1" 'KelManufacture=1\r\nProgram=1\r\nUnitType=2\r\nMcuType=LPC4337,LPC4357\r\n'
      ;;
    *) echo "signals: unknown job $name" && exit 2 ;;
  esac
done
echo "signals runs=$runs second_runs_completed=$completed after_power_cycle=$power_cycled violations=$violations boot_loader_broken=$broken power_loss_in_boot_loader=$power_loss"
[ "$violations" -eq 0 ]
