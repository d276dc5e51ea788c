#!/usr/bin/env bash
# check_layers.sh - fails when an #include points from a lower layer of the
# library to a higher one, sideways between two folders of one layer, or when
# two files include each other. Prints the include arrows between folders.
# Usage: check_layers.sh [source dir]   (a CTest runs it: layering)
cd "${1:-$(dirname "$0")/..}" || exit 2
declare -A rank=([include]=0 [stream]=1 [codec]=2 [simd]=2 [parallel]=3 [encode]=4 [decode]=4
                 [a85]=5 [transcode]=5 [oneshot]=5 [host]=6 [tools]=7)
bad=0
declare -A arrows edges
while IFS=: read -r file _ target; do
  from=${file%%/*}
  target=${target#*\"}; target=${target%%\"*}
  if [[ $target == */* ]]; then path=$target; to=${target%%/*}
  elif [[ -f include/$target ]]; then path=include/$target; to=include
  else path=$(dirname "$file")/$target; to=$from; fi
  edges[$file>$path]=1
  [[ $from == "$to" ]] && continue
  arrows["$from -> $to"]=1
  if [[ -z ${rank[$to]} ]] || (( rank[$to] >= rank[$from] )); then
    echo "upward or sideways: $file includes $target"; bad=1
  fi
done < <(grep -rn '^#include "' --include='*.h' --include='*.cpp' include stream codec simd parallel \
           encode decode a85 transcode oneshot host tools)
for e in "${!edges[@]}"; do
  a=${e%%>*} b=${e#*>}
  if [[ -n ${edges[$b>$a]} && $a < $b ]]; then echo "mutual include: $a <-> $b"; bad=1; fi
done
printf '%s\n' "${!arrows[@]}" | sort
exit $bad
