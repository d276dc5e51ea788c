#!/usr/bin/env bash
# Builds everything and passes every test: the plain Release build (warnings
# are errors), the same suite under AddressSanitizer + UndefinedBehaviorSanitizer,
# the multi-threaded stress test under ThreadSanitizer, and a short run of
# every libFuzzer target on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
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

echo "== ThreadSanitizer: the library and the multi-threaded stress test"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJPEG_TSAN=ON \
      -DJPEG_BUILD_BENCH=OFF -DJPEG_BUILD_TOOLS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_stress
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -R '^Stress\.' --output-on-failure

echo "== libFuzzer targets (short run)"
bash scripts/fuzz.sh "${JPEG_FUZZ_SECONDS:-60}" fuzz_jpeg_decode
bash scripts/fuzz.sh 20 fuzz_a85_decode fuzz_a85_jpeg_decode
