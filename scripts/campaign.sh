#!/usr/bin/env bash
# The fault campaign: builds kel_campaign (in the Debug tree the test
# command uses, so nothing is built twice) and runs it. Short by default
# (each fault kind at 4 requests spread over the run, 3 random runs a scenario);
# --full puts every fault at every request and makes 1,000 random runs;
# other options: see campaign/main.cpp.
# Prints one line per scenario and the tally
#   campaign runs=N faults=N recovered=N clean_failures=N violations=N
# and fails when any run broke the rules.
#   bash scripts/campaign.sh [--full]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages "${KEL_NATIVE_PACKAGES[@]}"
dir="${KEL_CAMPAIGN_BUILD:-$KEL_BUILD_ROOT/test-debug}"
mkdir -p "$dir"
KEL_TARGETS="kel_campaign" kel_build "$dir" -DCMAKE_BUILD_TYPE=Debug >"$dir.campaign-build.log" 2>&1 ||
  { tail -30 "$dir.campaign-build.log"; exit 1; }
"$dir/kel_campaign" "$@"
