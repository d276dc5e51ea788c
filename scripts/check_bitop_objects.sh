#!/usr/bin/env bash
# The entropy coders' second build, for the bit instructions (target
# jpegbitops, simd/kernels.h), may define no weak functions: the linker
# keeps one copy of such a function for the whole library, and that copy
# could be the one built for instructions the CPU lacks. The functions it
# exports are its own: their names end in BitOps. (Weak data, such as the
# type records a sanitizer build adds, holds no instructions.)
# Usage: scripts/check_bitop_objects.sh BUILD_DIR
set -euo pipefail
mapfile -t objects < <(find "$1/CMakeFiles/jpegbitops.dir" -name '*.o')
if [ "${#objects[@]}" -eq 0 ]; then
  echo "no objects of jpegbitops under $1"
  exit 1
fi
shared=$(nm -C --defined-only "${objects[@]}" | awk '$2 == "W"')
foreign=$(nm --defined-only --extern-only "${objects[@]}" | awk '$2 == "T" && $3 !~ /BitOps/')
if [ -n "$shared" ] || [ -n "$foreign" ]; then
  echo "jpegbitops objects share code with the baseline build:"
  printf '%s\n' "$shared" "$foreign"
  exit 1
fi
echo "jpegbitops: ${#objects[@]} objects, no shared functions"
