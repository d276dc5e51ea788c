#!/usr/bin/env bash
# quality-table.sh - size and PSNR against the source of `jpegtool encode
# --quality N` beside `cjpeg -quality N` (same chroma sampling: -sample), on
# the test photographs, at qualities 50, 75, 90 and 95. Both files are
# decoded by djpeg and compared with ImageMagick. Prints a Markdown table.
#
#   bash scripts/quality-table.sh [BUILD_DIR] [SAMPLING]   # defaults: build, 2x2
#   QUALITIES="30 60" IMAGES="testdata/coffee.ppm" bash scripts/quality-table.sh
set -euo pipefail

cd "$(dirname "$0")/.."
build=${1:-build}
sampling=${2:-2x2}
tool="$build/tools/jpegtool"
qualities=${QUALITIES:-50 75 90 95}
images=${IMAGES:-testdata/astronaut.ppm testdata/coffee.ppm}
for need in cjpeg djpeg compare; do
  command -v "$need" >/dev/null || { echo "quality-table.sh: $need not found" >&2; exit 1; }
done
[ -x "$tool" ] || cmake --build "$build" --target jpegtool >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1 || true; }

echo "| image | quality | ours bytes | ours PSNR dB | cjpeg bytes | cjpeg PSNR dB | bytes ours/cjpeg |"
echo "|---|---:|---:|---:|---:|---:|---:|"
for image in $images; do
  for q in $qualities; do
    "$tool" encode --quiet --quality "$q" --sample "$sampling" "$image" "$work/ours.jpg"
    cjpeg -quality "$q" -sample "$sampling" "$image" >"$work/cjpeg.jpg"
    djpeg -pnm "$work/ours.jpg" >"$work/ours.pnm"
    djpeg -pnm "$work/cjpeg.jpg" >"$work/cjpeg.pnm"
    ours=$(stat -c %s "$work/ours.jpg")
    theirs=$(stat -c %s "$work/cjpeg.jpg")
    printf '| %s | %s | %s | %.2f | %s | %.2f | %.3f |\n' "$(basename "$image")" "$q" "$ours" \
      "$(psnr "$image" "$work/ours.pnm")" "$theirs" "$(psnr "$image" "$work/cjpeg.pnm")" \
      "$(echo "$ours / $theirs" | bc -l)"
  done
done
