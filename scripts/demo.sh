#!/usr/bin/env bash
# The main job on the embedded default: builds the library and jpegtool
# (installing what is missing) and runs `jpegtool demo`, which encodes the
# built-in photograph at every quality, plain and ASCII85, decodes it back,
# prints a quality/size/PSNR table and writes the files and an SVG chart.
# Usage: scripts/demo.sh [OUTDIR]   (default ./demo-out)
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target jpegtool
out=${1:-$here/demo-out}
case "$out" in /*) ;; *) out="$here/$out" ;; esac
./build/tools/jpegtool demo "$out"
