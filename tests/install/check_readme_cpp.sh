#!/usr/bin/env bash
# The README's C++ example, taken out of README.md as it stands, compiled
# into host.cc with clang++ and g++ (warnings as errors, so a narrowing
# int-to-16-bit conversion in a brace initialiser fails), linked to the
# static library and run: it saves a small image and opens it again.
# Usage: check_readme_cpp.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '/^```cpp$/ {inside = 1; next} /^```$/ {if (inside) exit} inside' "$source/README.md" >"$work/readme_example.inc"
[ -s "$work/readme_example.inc" ] || { echo "check_readme_cpp: no C++ block in README.md" >&2; exit 1; }
for compiler in clang++ g++; do
  command -v "$compiler" >/dev/null || continue
  "$compiler" -std=c++17 -Wall -Wextra -Werror -I"$source/include" -I"$work" "$source/tests/install/host.cc" \
    "$build/libjpegcodec.a" -o "$work/example-$compiler"
  "$work/example-$compiler" "$work/out.jpg"
  echo "check_readme_cpp: the README's C++ example builds with $compiler and runs"
done
