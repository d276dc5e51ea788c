#!/usr/bin/env bash
# The README's C++ example, taken out of README.md as it stands, compiled
# with clang++ and g++ (warnings as errors, so a narrowing int-to-16-bit
# conversion in a brace initialiser fails), linked to the static library and
# run: it saves a small image and opens it again.
# Usage: check_readme_cpp.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '/^```cpp$/ {inside = 1; next} /^```$/ {if (inside) exit} inside' "$source/README.md" >"$work/example.cpp"
[ -s "$work/example.cpp" ] || { echo "check_readme_cpp: no C++ block in README.md" >&2; exit 1; }
cat >>"$work/example.cpp" <<'MAIN'

int main(int argc, char** argv) {
  const int width = 37, height = 21;  // plain ints, as callers hold them
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < pixels.size(); i++) pixels[i] = static_cast<uint8_t>(i * 7);
  const char* path = argc > 1 ? argv[1] : "example.jpg";
  JPEGReadInfo info{};
  std::vector<uint8_t> back;
  if (!SaveJPEG(path, width, height, pixels.data()) || !OpenJPEG(path, &info, &back)) return 1;
  return info.width == width && info.height == height && back.size() == pixels.size() ? 0 : 1;
}
MAIN
for compiler in clang++ g++; do
  command -v "$compiler" >/dev/null || continue
  "$compiler" -std=c++17 -Wall -Wextra -Werror -I"$source/include" "$work/example.cpp" \
    "$build/libjpegcodec.a" -o "$work/example-$compiler"
  "$work/example-$compiler" "$work/out.jpg"
  echo "check_readme_cpp: the README's C++ example builds with $compiler and runs"
done
