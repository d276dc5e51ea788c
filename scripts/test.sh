#!/usr/bin/env bash
# Builds everything and passes every test: the plain Release build (warnings
# are errors), the same suite under AddressSanitizer + UndefinedBehaviorSanitizer,
# the multi-threaded stress test under ThreadSanitizer, and a short run of
# every libFuzzer target on its seed corpus.
# The last line is the sum over every ctest run: "N passed, M failed"; the
# exit status is non-zero when any test or any step failed.
set -euo pipefail
cd "$(dirname "$0")/.."

# --- summary -----------------------------------------------------------------
# Every `ctest` below runs through this function: it shows ctest's output,
# adds the counts of its "N% tests passed, F tests failed out of T" line to
# the totals and lets the script go on, so one failing suite does not hide
# the next. The EXIT trap prints the totals as the last line.
tests_passed=0
tests_failed=0
ctest_status=0
ctest() {
  local log status=0
  log=$(mktemp)
  command ctest "$@" 2>&1 | tee "$log" || status=$?
  local counts
  counts=$(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [[ $counts =~ ^([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+)$ ]]; then
    tests_failed=$((tests_failed + BASH_REMATCH[1]))
    tests_passed=$((tests_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  rm -f "$log"
  [ "$status" -eq 0 ] || ctest_status=$status
  return 0
}
print_summary() {
  local status=$?
  [ "$status" -eq 0 ] || echo "test.sh: a step failed (exit status $status)"
  echo "${tests_passed} passed, ${tests_failed} failed"
  if [ "$status" -eq 0 ] && { [ "$tests_failed" -ne 0 ] || [ "$ctest_status" -ne 0 ]; }; then
    exit 1
  fi
  exit "$status"
}
trap print_summary EXIT
# --- end of summary ------------------------------------------------------------

bash scripts/install-deps.sh test
jobs=$(nproc)

echo "== Release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJPEG_SANITIZE=ON \
      -DJPEG_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
# The run above uses the best kernel level of this CPU; the lower ones too.
for level in scalar sse2; do
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer tests, JPEG_SIMD=$level"
  JPEG_SIMD=$level ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
done

echo "== ThreadSanitizer: the library, the multi-threaded stress test, the filters' workers"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJPEG_TSAN=ON \
      -DJPEG_BUILD_BENCH=OFF -DJPEG_BUILD_TOOLS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_stress test_parallel
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -R '^(Stress|Parallel[A-Za-z]*)\.' --output-on-failure

echo "== libFuzzer targets (short run)"
# The decode filter in pieces, progressive, over ASCII85, and worker
# threads against none: the same lines, verdict and message.
bash scripts/fuzz.sh "${JPEG_FUZZ_SECONDS:-60}" fuzz_decode
# The encoder, ASCII85, the host streams and jpegtool's own parsers.
bash scripts/fuzz.sh 20 fuzz_encode fuzz_a85 fuzz_host fuzz_tool
