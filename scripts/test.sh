#!/usr/bin/env bash
# Builds Pantoline for Linux (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and for Windows (MinGW-w64), then runs every
# test: the Linux tests natively, the Windows tests under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1

jobs=$(nproc)
# The configurations are CMakePresets.json's: build/linux-sanitize, build/windows.
cmake --preset linux-sanitize &&
  cmake --build --preset linux-sanitize -j "$jobs" &&
  cmake --preset windows &&
  cmake --build --preset windows -j "$jobs" || exit 1

passed=0
failed=0
skipped=0
status=0
for build in linux-sanitize windows; do
  log=build/$build/ctest-output.txt
  ctest --test-dir "build/$build" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
  ((PIPESTATUS[0] == 0)) || status=1
  # "100% tests passed, 0 tests failed out of 84"
  if summary=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -1) && [[ -n $summary ]]; then
    read -r f _ _ _ _ total <<<"$summary"
    s=$(grep -c '(Skipped)' "$log")
    failed=$((failed + f))
    skipped=$((skipped + s))
    passed=$((passed + total - f - s))
  else
    status=1
  fi
done

echo "Linux and Windows together:"
echo "$passed passed, $failed failed, $skipped skipped"
exit "$status"
