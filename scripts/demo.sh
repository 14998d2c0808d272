#!/usr/bin/env bash
# Builds KelUpdater and shows it running: the banner and, through an
# unknown option, the usage text.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kel_ensure_packages cmake g++ make
dir="$KEL_BUILD_ROOT/demo"
mkdir -p "$KEL_BUILD_ROOT"
kel_build "$dir" -DCMAKE_BUILD_TYPE=Release -DKEL_BUILD_TESTS=OFF

kel_log "KelUpdater -y -z"
rc=0
"$dir/KelUpdater" -y -z </dev/null || rc=$?
echo
if [ "$rc" -ne 1 ]; then
  kel_log "KelUpdater ended with exit code $rc; 1 was expected for an unknown option"
  exit 1
fi
kel_log "KelUpdater ended with exit code 1, as it should for an unknown option"
