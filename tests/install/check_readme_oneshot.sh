#!/usr/bin/env bash
# The README's one-call C example (its C block that includes jpeg_oneshot.h),
# at most 15 lines, compiled as C11 with warnings as errors against the
# installed headers, linked to the installed static and shared libraries, run.
# Usage: check_readme_oneshot.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$1" --prefix "$work/prefix" >/dev/null
lib=$(ls -d "$work"/prefix/lib*/ | head -n 1)
awk '/^```c$/ {inside = 1; text = ""; next} /^```$/ {if (inside && text ~ /jpeg_oneshot\.h/) {printf "%s", text; exit} inside = 0}
     inside {text = text $0 "\n"}' "$2/README.md" >"$work/example.c"
[ -s "$work/example.c" ] && [ "$(wc -l <"$work/example.c")" -le 15 ] || { echo "no one-call example of at most 15 lines" >&2; exit 1; }
for link in "$lib/libjpegcodec.a -lstdc++ -lm" "-L$lib -ljpegcodec -Wl,-rpath,$lib"; do
  cc -std=c11 -Wall -Wextra -Werror -I"$work/prefix/include/jpegcodec" "$work/example.c" $link -o "$work/example"
  "$work/example"
done
