#!/usr/bin/env bash
# The README's one-call C example (the C block that includes jpeg_oneshot.h),
# taken out of README.md as it stands, compiled as C11 with warnings as
# errors against the installed headers, linked to the installed static and
# shared libraries, and run: a round trip through memory.
# Usage: check_readme_oneshot.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib*/ | head -n 1)
awk '/^```c$/ {inside = 1; text = ""; next}
     /^```$/ {if (inside && text ~ /jpeg_oneshot\.h/) {printf "%s", text; exit} inside = 0; next}
     inside {text = text $0 "\n"}' "$source/README.md" >"$work/example.c"
[ -s "$work/example.c" ] || { echo "check_readme_oneshot: no one-call C block in README.md" >&2; exit 1; }
lines=$(wc -l <"$work/example.c")
[ "$lines" -le 15 ] || { echo "check_readme_oneshot: the example has $lines lines, more than 15" >&2; exit 1; }
cc -std=c11 -Wall -Wextra -Werror -I"$work/prefix/include/jpegcodec" "$work/example.c" \
   "$libdir/libjpegcodec.a" -lstdc++ -lm -o "$work/static"
cc -std=c11 -Wall -Wextra -Werror -I"$work/prefix/include/jpegcodec" "$work/example.c" \
   -L"$libdir" -ljpegcodec -Wl,-rpath,"$libdir" -o "$work/shared"
"$work/static"
"$work/shared"
echo "check_readme_oneshot: the README's one-call example builds and runs (static and shared)"
