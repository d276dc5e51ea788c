#!/usr/bin/env bash
# size-table.sh - bytes of our files with --optimize and --progressive against
# cjpeg -optimize and cjpeg -progressive at equal PSNR, on the testdata
# photographs, as a Markdown table.
#
# For each photograph and --level 0..6 our file is decoded with djpeg and its
# PSNR against the source taken (ImageMagick compare, all channels). cjpeg is
# run at every quality 1..100 with the same chroma sampling as ours (2x2 at
# levels 0..2, 1x1 above); its bytes at our PSNR are interpolated linearly
# between the two qualities whose PSNR brackets ours. "ratio" is ours over
# cjpeg's at equal PSNR (below 1: ours is smaller).
# Usage: scripts/size-table.sh [JPEGTOOL]   (default: build/tools/jpegtool)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$here/build/tools/jpegtool}
for t in cjpeg djpeg compare; do command -v $t >/dev/null || { echo "size-table.sh: needs $t" >&2; exit 2; }; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

psnr() { { compare -metric PSNR "$1" "$2" null: 2>&1 || true; } | awk '{print $1}'; }
bytes() { stat -c %s "$1"; }

# curve IMAGE SAMPLING -> lines "psnr optimizeBytes progressiveBytes", quality 1..100
curve() {
  local src=$1 sample=$2 q
  for q in $(seq 1 100); do
    cjpeg -baseline -quality "$q" -sample "$sample" -optimize "$src" >"$work/c.jpg"
    cjpeg -baseline -quality "$q" -sample "$sample" -progressive "$src" >"$work/p.jpg"
    djpeg -pnm "$work/c.jpg" >"$work/c.pnm"
    echo "$(psnr "$src" "$work/c.pnm") $(bytes "$work/c.jpg") $(bytes "$work/p.jpg")"
  done
}

# at PSNR COLUMN CURVEFILE -> cjpeg's bytes (column 2 or 3) at that PSNR
at() {
  awk -v p="$1" -v c="$2" '
    { q[NR] = $1; b[NR] = $c }
    END {
      for (i = 2; i <= NR; i++) if (q[i] >= p && q[i-1] < p) {
        printf "%.0f", b[i-1] + (b[i] - b[i-1]) * (p - q[i-1]) / (q[i] - q[i-1]); exit }
      printf "n/a" }' "$3"
}

ratio() { [[ $2 == n/a ]] && echo n/a || awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

echo "| image | level | PSNR dB | ours | ours --optimize | cjpeg -optimize | ratio | ours --progressive | cjpeg -progressive | ratio |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for image in astronaut.ppm coffee.ppm camera.pgm; do
  src=$here/testdata/$image
  for sample in 2x2 1x1; do curve "$src" $sample >"$work/curve-$sample"; done
  for level in 0 1 2 3 4 5 6; do
    sample=1x1; ((level <= 2)) && sample=2x2
    "$tool" encode --quiet --level $level "$src" "$work/d.jpg"
    "$tool" encode --quiet --level $level --optimize "$src" "$work/o.jpg"
    "$tool" encode --quiet --level $level --progressive "$src" "$work/p.jpg"
    djpeg -pnm "$work/o.jpg" >"$work/o.pnm"
    p=$(psnr "$src" "$work/o.pnm")
    co=$(at "$p" 2 "$work/curve-$sample")
    cp=$(at "$p" 3 "$work/curve-$sample")
    echo "| $image | $level | $p | $(bytes "$work/d.jpg") | $(bytes "$work/o.jpg") | $co | $(ratio "$(bytes "$work/o.jpg")" "$co") | $(bytes "$work/p.jpg") | $cp | $(ratio "$(bytes "$work/p.jpg")" "$cp") |"
  done
done
