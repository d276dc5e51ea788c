#!/usr/bin/env bash
# Builds everything and passes every test: the plain Release build (warnings
# are errors), the same suite under AddressSanitizer + UndefinedBehaviorSanitizer,
# and a short run of every libFuzzer target on its seed corpus.
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

echo "== libFuzzer targets (short run)"
bash scripts/fuzz.sh "${JPEG_FUZZ_SECONDS:-60}" fuzz_jpeg_decode
bash scripts/fuzz.sh 20 fuzz_a85_decode fuzz_a85_jpeg_decode
bash scripts/fuzz.sh 15 fuzz_thumb fuzz_read_stream fuzz_encode fuzz_write_stream
