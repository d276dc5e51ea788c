#!/usr/bin/env bash
# Alternating A/B timing of jpegbench builds on one table row: each build
# runs `--run ROW 0` (the row's set-up alone) and `--run ROW N` in turn,
# REPS times, and the best CPU time (task-clock) of each is kept; the
# difference divided by N is printed: milliseconds per encode or decode.
# The set-up is timed as often as the runs, since one slow set-up would
# shift every figure. Alternating keeps a busy moment of the machine from
# landing on one build only.
# Usage: scripts/ab-bench.sh ROW N REPS JPEGBENCH...   (ROW 0..12: the table's rows in order)
set -euo pipefail
row=$1 n=$2 reps=$3
shift 3
cpu_ms() { perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ {print $1}'; }
for ((i = 0; i < reps; i++)); do
  for bin in "$@"; do
    echo "$bin $(cpu_ms "$bin" --run "$row" 0) $(cpu_ms "$bin" --run "$row" "$n")"
  done
done | awk -v n="$n" '
  !($1 in setup) { order[++count] = $1 }
  !($1 in setup) || $2 < setup[$1] { setup[$1] = $2 }
  !($1 in runs) || $3 < runs[$1] { runs[$1] = $3 }
  END { for (i = 1; i <= count; i++) { b = order[i]; printf "%-40s %8.2f ms per image\n", b, (runs[b] - setup[b]) / n } }'
