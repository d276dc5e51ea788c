#!/usr/bin/env bash
# Whole-process time and peak memory of jpegtool against the system's cjpeg
# and djpeg (their non-SIMD code, JSIMD_FORCENONE=1) on the same input in
# the same run, and jpegtool's peak memory on a ~98-megapixel image.
#   encode: the same PPM; jpegtool --level 2 and cjpeg -quality 75 both
#           subsample chroma 2x2 and give files of about the same size
#   decode: the same file (cjpeg's) through jpegtool decode and djpeg
# Each time is the best of RUNS runs (default 5): the machine may be busy.
# Usage: scripts/compare-tool.sh [JPEGTOOL] [RUNS]   (default build/tools/jpegtool)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(realpath "${1:-build/tools/jpegtool}")
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export JSIMD_FORCENONE=1

# A photograph at a given size, scaled from the test data.
make_image() {
  /usr/bin/python3 -c "import sys; from PIL import Image
Image.open(sys.argv[1]).resize((int(sys.argv[2]), int(sys.argv[3])), Image.BILINEAR).save(sys.argv[4])" \
    testdata/coffee.ppm "$1" "$2" "$3"
}

# Best wall time (seconds) and largest peak RSS (KiB) of a command over $runs runs.
measure() {
  local best="" peak=0 i start end elapsed rss
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    rss=$(/usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1)
    end=$(date +%s%N)
    elapsed=$(( (end - start) / 1000 ))
    if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
    if [ "$rss" -gt "$peak" ]; then peak=$rss; fi
  done
  echo "$best $peak"
}

report() {  # name, ours "us kib", theirs "us kib"
  read -r ours_us ours_kib <<<"$2"
  read -r their_us their_kib <<<"$3"
  awk -v n="$1" -v a="$ours_us" -v b="$their_us" -v ra="$ours_kib" -v rb="$their_kib" 'BEGIN {
    printf "%-8s jpegtool %7.3f s %7d KB   peer %7.3f s %7d KB   ratio %.2f\n", n, a/1e6, ra, b/1e6, rb, a/b }'
}

echo "== 17.9 MP (5184x3456 RGB), best of $runs runs, JSIMD_FORCENONE=1"
make_image 5184 3456 "$work/photo.ppm"
cjpeg -quality 75 -outfile "$work/peer.jpg" "$work/photo.ppm"
report encode "$(measure "$tool" encode --quiet --level 2 "$work/photo.ppm" "$work/ours.jpg")" \
              "$(measure cjpeg -quality 75 -outfile "$work/theirs.jpg" "$work/photo.ppm")"
report decode "$(measure "$tool" decode --quiet "$work/peer.jpg" "$work/ours.ppm")" \
              "$(measure djpeg -outfile "$work/theirs.ppm" "$work/peer.jpg")"
rm -f "$work"/*.ppm "$work"/*.jpg

echo "== peak memory on 98.3 MP (10920x9000 RGB: the widest RGB line the encoder takes)"
make_image 10920 9000 "$work/big.ppm"
read -r us kib <<<"$(runs=1 measure "$tool" encode --quiet "$work/big.ppm" "$work/big.jpg")"
awk -v k="$kib" -v t="$us" 'BEGIN {printf "encode   jpegtool peak %.1f MB (%d KB), %.2f s\n", k/1024, k, t/1e6}'
read -r us kib <<<"$(runs=1 measure "$tool" decode --quiet "$work/big.jpg" "$work/back.ppm")"
awk -v k="$kib" -v t="$us" 'BEGIN {printf "decode   jpegtool peak %.1f MB (%d KB), %.2f s\n", k/1024, k, t/1e6}'
