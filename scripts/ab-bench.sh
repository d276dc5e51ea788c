#!/usr/bin/env bash
# Alternating A/B timing of jpegbench builds on one table row: each build
# runs `--run ROW N` in turn, REPS times, and the best CPU time (task-clock)
# of each is printed, with the row's set-up (`--run ROW 0`) taken off and
# divided by N: milliseconds per encode or decode (an encode row also runs
# the peer once for the file sizes: its time / N is included). Alternating
# keeps a busy moment of the machine from landing on one build only.
# Usage: scripts/ab-bench.sh ROW N REPS JPEGBENCH...   (ROW 0..12: the table's rows in order)
set -euo pipefail
row=$1 n=$2 reps=$3
shift 3
cpu_ms() { perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ {print $1}'; }
declare -A best
for ((i = 0; i < reps; i++)); do
  for bin in "$@"; do
    t=$(cpu_ms "$bin" --run "$row" "$n")
    if [ -z "${best[$bin]:-}" ] || awk -v a="$t" -v b="${best[$bin]}" 'BEGIN { exit !(a < b) }'; then best[$bin]=$t; fi
  done
done
for bin in "$@"; do
  setup=$(cpu_ms "$bin" --run "$row" 0)
  awk -v b="$bin" -v t="${best[$bin]}" -v s="$setup" -v n="$n" 'BEGIN { printf "%-40s %8.2f ms per image\n", b, (t - s) / n }'
done
