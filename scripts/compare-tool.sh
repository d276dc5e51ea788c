#!/usr/bin/env bash
# Whole-process time and peak memory of jpegtool against the system's cjpeg
# and djpeg on the same inputs in the same run, single-threaded, each pair
# timed with the peer's SIMD code on and off (JSIMD_FORCENONE=1), and
# jpegtool's peak memory on a ~98-megapixel image. Two photographs:
#   smooth: testdata/coffee.ppm scaled to 5184x3456 (17.9 MP)
#   detail: testdata/astronaut.ppm mirrored into an 8x8 tiling (4096x4096,
#           16.8 MP; the table's detailed photograph)
# Cases on each (ratio = peer time / jpegtool time: above 1 is faster):
#   encode 4:2:0  jpegtool --level 2 (QFactor 0.76, 2x2)  vs cjpeg -quality 75
#   encode 4:4:4  jpegtool --level 5 (QFactor 0.25)       vs cjpeg -quality 88 -sample 1x1
#   decode 4:2:0, 4:4:4 and progressive: cjpeg's files (the progressive one
#           at quality 88, 4:2:0) through jpegtool decode and djpeg
# Each time is the best of RUNS runs (default 5): the machine may be busy.
# Usage: scripts/compare-tool.sh [JPEGTOOL] [RUNS]   (default build/tools/jpegtool)
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(realpath "${1:-build/tools/jpegtool}")
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A photograph at a given size, scaled from the test data.
make_image() {
  /usr/bin/python3 -c "import sys; from PIL import Image
Image.open(sys.argv[1]).resize((int(sys.argv[2]), int(sys.argv[3])), Image.BILINEAR).save(sys.argv[4])" \
    testdata/coffee.ppm "$1" "$2" "$3"
}

# The detailed photograph: astronaut.ppm mirrored into n x n tiles.
make_tiled() {
  /usr/bin/python3 -c "import sys; from PIL import Image, ImageOps
src = Image.open(sys.argv[1]); n = int(sys.argv[2]); w, h = src.size
out = Image.new('RGB', (w * n, h * n))
for ty in range(n):
    for tx in range(n):
        t = ImageOps.mirror(src) if tx % 2 else src
        out.paste(ImageOps.flip(t) if ty % 2 else t, (tx * w, ty * h))
out.save(sys.argv[3])" testdata/astronaut.ppm "$1" "$2"
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
    printf "%-20s jpegtool %7.3f s %7d KB   peer %7.3f s %7d KB   ratio %.2f\n", n, a/1e6, ra, b/1e6, rb, b/a }'
}

# Every case on one PPM ($1), labelled $2; the peer with SIMD and without.
compare_image() {
  local ppm=$1 label=$2 simd
  cjpeg -quality 75 -outfile "$work/p420.jpg" "$ppm"
  cjpeg -quality 88 -sample 1x1 -outfile "$work/p444.jpg" "$ppm"
  cjpeg -quality 88 -progressive -outfile "$work/pprog.jpg" "$ppm"
  for simd in on off; do
    if [ "$simd" = off ]; then export JSIMD_FORCENONE=1; else unset JSIMD_FORCENONE; fi
    echo "-- $label, peer SIMD $simd"
    report "encode 4:2:0" "$(measure "$tool" encode --quiet --level 2 "$ppm" "$work/ours.jpg")" \
                          "$(measure cjpeg -quality 75 -outfile "$work/theirs.jpg" "$ppm")"
    report "encode 4:4:4 high" "$(measure "$tool" encode --quiet --level 5 "$ppm" "$work/ours.jpg")" \
                               "$(measure cjpeg -quality 88 -sample 1x1 -outfile "$work/theirs.jpg" "$ppm")"
    local kind
    for kind in 420 444 prog; do
      report "decode $kind" "$(measure "$tool" decode --quiet "$work/p$kind.jpg" "$work/ours.ppm")" \
                            "$(measure djpeg -outfile "$work/theirs.ppm" "$work/p$kind.jpg")"
    done
  done
  unset JSIMD_FORCENONE
  rm -f "$work"/*.jpg "$work"/ours.ppm "$work"/theirs.ppm
}

echo "== whole processes, best of $runs runs, single-threaded (ratio = peer time / jpegtool time)"
make_image 5184 3456 "$work/smooth.ppm"
compare_image "$work/smooth.ppm" "smooth 17.9 MP (5184x3456 RGB)"
rm -f "$work/smooth.ppm"
make_tiled 8 "$work/detail.ppm"
compare_image "$work/detail.ppm" "detail 16.8 MP (4096x4096 RGB)"
rm -f "$work/detail.ppm"

echo "== peak memory on 98.3 MP (10920x9000 RGB: the widest RGB line the encoder takes)"
make_image 10920 9000 "$work/big.ppm"
read -r us kib <<<"$(runs=1 measure "$tool" encode --quiet "$work/big.ppm" "$work/big.jpg")"
awk -v k="$kib" -v t="$us" 'BEGIN {printf "encode   jpegtool peak %.1f MB (%d KB), %.2f s\n", k/1024, k, t/1e6}'
read -r us kib <<<"$(runs=1 measure "$tool" decode --quiet "$work/big.jpg" "$work/back.ppm")"
awk -v k="$kib" -v t="$us" 'BEGIN {printf "decode   jpegtool peak %.1f MB (%d KB), %.2f s\n", k/1024, k, t/1e6}'
