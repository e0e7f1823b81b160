#!/usr/bin/env bash
# Builds Pantoline for Linux (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and for Windows (MinGW-w64), then runs every
# test: the Linux tests natively, the Windows tests under Wine; and the GTK
# dialog's tests once more under ThreadSanitizer.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1

jobs=$(nproc)
# The configurations are CMakePresets.json's: build/linux-sanitize,
# build/windows and, below, build/linux-tsan.
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

# The GTK dialog's worker thread under ThreadSanitizer: a build of its own,
# its display tests only.
tsan_log=build/linux-tsan/ctest-output.txt
if cmake --preset linux-tsan >/dev/null &&
  cmake --build --preset linux-tsan -j "$jobs" --target gtk_dialog_tests >/dev/null; then
  ctest --test-dir build/linux-tsan -R '^gtk_dialog_' --output-on-failure 2>&1 | tee "$tsan_log"
  ((PIPESTATUS[0] == 0)) || status=1
  t=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$tsan_log" | tail -1)
  read -r f _ _ _ _ total <<<"${t:-1 tests failed out of 1}"
  failed=$((failed + f))
  passed=$((passed + total - f))
else
  status=1
  failed=$((failed + 1))
fi

echo "Linux (ASan, TSan) and Windows together:"
echo "$passed passed, $failed failed, $skipped skipped"
exit "$status"
