#!/usr/bin/env bash
# The main job on the embedded default: builds the library and jpegtool
# (installing what is missing) and runs `jpegtool demo`, which encodes the
# built-in photograph at every quality, plain and ASCII85, decodes it back,
# prints a quality/size/PSNR table and writes the files and an SVG chart.
# Only what building jpegtool needs is installed; the chart shows the
# system's cjpeg beside ours when it happens to be installed.
# Usage: scripts/demo.sh [OUTDIR]   (default ./demo-out)
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
# Its own build directory: without the test packages, tests and benchmark
# are left out, and the full build in build/ keeps its settings.
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DJPEG_BUILD_TESTS=OFF -DJPEG_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo -j "$(nproc)" --target jpegtool
out=${1:-$here/demo-out}
case "$out" in /*) ;; *) out="$here/$out" ;; esac
./build-demo/tools/jpegtool demo "$out"
