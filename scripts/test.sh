#!/usr/bin/env bash
# Builds Pantoline for Linux (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and for Windows (MinGW-w64), then runs every
# test: the Linux tests natively, the Windows tests under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1

jobs=$(nproc)
cmake -S . -B build/linux -DPANTOLINE_SANITIZE=ON &&
  cmake --build build/linux -j "$jobs" &&
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake &&
  cmake --build build/windows -j "$jobs" || exit 1

passed=0
failed=0
skipped=0
status=0
for build in linux windows; do
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
