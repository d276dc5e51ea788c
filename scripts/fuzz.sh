#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one
# for the given number of seconds (default 60) on a copy of its seed corpus.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DJPEG_BUILD_FUZZ=ON -DJPEG_BUILD_TESTS=OFF -DJPEG_BUILD_BENCH=OFF -DJPEG_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in build-fuzz/fuzz/fuzz_*; do
    if [ -x "$f" ]; then targets+=("$(basename "$f")"); fi
  done
fi
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  echo "fuzz: $t for ${seconds}s"
  status=0
  ./build-fuzz/fuzz/"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$work" >"$work.log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)' "$work.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$work.log"
    echo "fuzz: $t found a problem (exit $status)"
    exit 1
  fi
  rm -rf "$work" "$work.log"
done
