#!/usr/bin/env bash
# Alternating A/B timing of jpegbench builds on one table row: each build
# runs `--run ROW N` in turn, REPS times, and the best single run any of
# its processes reports is kept (milliseconds per encode or decode). The
# set-up (making the image) stays out of the figure, and alternating keeps
# a busy moment of the machine from landing on one build only.
# Usage: scripts/ab-bench.sh ROW N REPS JPEGBENCH...   (ROW 0..12: the table's rows in order)
set -euo pipefail
row=$1 n=$2 reps=$3
shift 3
for ((i = 0; i < reps; i++)); do
  for bin in "$@"; do
    echo "$bin $("$bin" --run "$row" "$n" | sed -n 's/.*best \([0-9.]*\) ms.*/\1/p')"
  done
done | awk '
  !($1 in best) { order[++count] = $1 }
  !($1 in best) || $2 < best[$1] { best[$1] = $2 }
  END { for (i = 1; i <= count; i++) { b = order[i]; printf "%-40s %8.2f ms per image\n", b, best[b] } }'
