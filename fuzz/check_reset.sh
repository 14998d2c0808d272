#!/usr/bin/env bash
# Checks that a reply target puts its link back into its made state between
# inputs: runs up to 200 inputs (KEL_RESET_INPUTS) of the target's corpus
# (the seeds and what scripts/fuzz.sh kept) in one process, then each in a
# process of its own, and compares each input's outcome (console text,
# clock, bytes each way).
# A difference means an input's result depends on the inputs before it, and
# a crash found while fuzzing might not come back when its input runs alone.
#   bash fuzz/check_reset.sh NAME      (after scripts/fuzz.sh built it)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
name="$1"
bin="${KEL_BUILD_ROOT:-build}/fuzz/fuzz_$name"
inputs=()
for dir in "fuzz/corpus/$name" "${KEL_BUILD_ROOT:-build}/fuzz/corpus/$name"; do
  [ -d "$dir" ] && while IFS= read -r file; do inputs+=("$file"); done < <(find "$dir" -type f | sort)
done
inputs=("${inputs[@]:0:${KEL_RESET_INPUTS:-200}}")
# Without the leak check, which runs some inputs a second time.
together=$(KEL_FUZZ_DIGEST=1 "$bin" -detect_leaks=0 "${inputs[@]}" 2>&1 | grep '^reset-digest' || true)
alone=$(for input in "${inputs[@]}"; do
  KEL_FUZZ_DIGEST=1 "$bin" -detect_leaks=0 "$input" 2>&1 | grep '^reset-digest' || true
done)
if [ "$together" != "$alone" ]; then
  diff <(echo "$together") <(echo "$alone") | head -20
  echo "check_reset target=$name inputs=${#inputs[@]} result=DIFFERENT"
  exit 1
fi
echo "check_reset target=$name inputs=${#inputs[@]} result=same"
