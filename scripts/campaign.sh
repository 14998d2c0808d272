#!/usr/bin/env bash
# The fault campaign: builds kel_campaign, the program and the simulator (in
# the tree the test command gives, so nothing is built twice) and runs
# the campaign in process, then the interrupted runs on pseudo-terminals
# (scripts/campaign_signals.sh).
#   bash scripts/campaign.sh            short form (CI): each fault kind once
#                                       per scenario, one random run each, a
#                                       direct update and a -x run each stopped
#                                       by SIGINT and by SIGKILL
#   bash scripts/campaign.sh --proof    each fault kind at the first, middle
#                                       and last request of the transfer
#                                       phases (as many as the time allows,
#                                       KEL_PROOF_SAMPLE a scenario), 1,000
#                                       random runs, every stop signal at two
#                                       moments of four jobs
#   bash scripts/campaign.sh ARGS...    kel_campaign ARGS (campaign/main.cpp)
# Prints per scenario its figures and coverage, the violations by cause,
# and the tally
#   campaign runs=N faults=N recovered=N clean_failures=N rerun_recovered=N violations=N
#            boot_loader_broken=N power_loss_in_boot_loader=N
# (interrupted runs count as runs, their completed second runs as
# rerun_recovered; boot_loader_broken counts the violations that left a
# unit's boot loader half written, power_loss_in_boot_loader the runs whose
# power went in the middle of a boot-loader write, which no program can
# save); fails when any run broke the rules.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages "${KEL_NATIVE_PACKAGES[@]}"
# A tree given by KEL_CAMPAIGN_BUILD keeps its own configuration (the test
# command passes its Release tree); the campaign's own tree is Debug.
dir="${KEL_CAMPAIGN_BUILD:-$KEL_BUILD_ROOT/test-debug}"
options=()
[ -n "${KEL_CAMPAIGN_BUILD:-}" ] || options=(-DCMAKE_BUILD_TYPE=Debug)
mkdir -p "$dir"
KEL_TARGETS="kel_campaign KelUpdater ponderix-sim" kel_build "$dir" "${options[@]}" \
  >"$dir.campaign-build.log" 2>&1 || { tail -30 "$dir.campaign-build.log"; exit 1; }

log="$dir.campaign.log"
: >"$log"
rc=0
if [ "${1:-}" = "--proof" ]; then
  # Two scenarios at a time, one per core; the interrupted runs, which
  # mostly wait for the line, alongside. At most KEL_PROOF_SAMPLE (default
  # 50; 0: all) phase positions a scenario keep the whole under an hour.
  sample="${KEL_PROOF_SAMPLE:-50}"
  bash scripts/campaign_signals.sh "$dir" 1 >"$log.signals" 2>&1 &
  signals=$!
  printf '%s\n' demo-field demo-overlapped demo-direct-boot-loader demo-direct jig-production \
    flash-and-file |
    xargs -P 2 -I{} sh -c "'$dir/kel_campaign' --proof --sample $sample --random 200 --scenario {} \
      >'$log.{}' 2>&1 || true"
  wait "$signals" || rc=1
  cat "$log".* >>"$log" && rm -f "$log".*
elif [ $# -gt 0 ]; then
  "$dir/kel_campaign" "$@"
  exit
else
  "$dir/kel_campaign" >>"$log" 2>&1 || rc=1
  bash scripts/campaign_signals.sh "$dir" 1 "INT KILL" "direct extract" >>"$log" 2>&1 || rc=1
fi
grep -a -E '^(campaign-|signals |signals-job|signals violation|violation )' "$log" |
  grep -a -v -E '^(campaign runs=|campaign-progress )'
# One tally over the in-process runs and the interrupted ones.
awk '
  /^campaign runs=/ { for (i = 2; i <= NF; i++) { split($i, kv, "="); t[kv[1]] += kv[2] } }
  /^signals runs=/ { for (i = 2; i <= NF; i++) { split($i, kv, "="); s[kv[1]] += kv[2] } }
  END {
    printf "campaign runs=%d faults=%d recovered=%d clean_failures=%d rerun_recovered=%d violations=%d boot_loader_broken=%d power_loss_in_boot_loader=%d\n",
      t["runs"] + s["runs"], t["faults"] + s["runs"], t["recovered"], t["clean_failures"],
      t["rerun_recovered"] + s["second_runs_completed"], t["violations"] + s["violations"],
      t["boot_loader_broken"] + s["boot_loader_broken"],
      t["power_loss_in_boot_loader"] + s["power_loss_in_boot_loader"]
  }' "$log"
if grep -a -q -E '^campaign runs=.* violations=[1-9]|^signals runs=.* violations=[1-9]' "$log"; then rc=1; fi
exit $rc
