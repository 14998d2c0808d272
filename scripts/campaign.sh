#!/usr/bin/env bash
# The fault campaign: builds kel_campaign (in the tree the test command
# gives, so nothing is built twice) and runs it. Short by default
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
# A tree given by KEL_CAMPAIGN_BUILD keeps its own configuration (the test
# command passes its Release tree); the campaign's own tree is Debug.
dir="${KEL_CAMPAIGN_BUILD:-$KEL_BUILD_ROOT/test-debug}"
options=()
[ -n "${KEL_CAMPAIGN_BUILD:-}" ] || options=(-DCMAKE_BUILD_TYPE=Debug)
mkdir -p "$dir"
KEL_TARGETS="kel_campaign" kel_build "$dir" "${options[@]}" >"$dir.campaign-build.log" 2>&1 ||
  { tail -30 "$dir.campaign-build.log"; exit 1; }
"$dir/kel_campaign" "$@"
