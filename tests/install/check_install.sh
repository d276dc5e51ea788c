#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses the installed tree
# only: the exported symbols (the archive's globals are the same), then a C
# host and a C++ host (the README's examples) built through pkg-config (shared,
# and fully static with what `pkg-config --static` prints, defining the codec's
# internal names for itself) and through find_package, and run.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(ls -d "$prefix"/lib*/ | head -n 1)
libdir=${libdir%/}

fail() { echo "check_install: $*" >&2; exit 1; }

# The layout: versioned shared library, archive, headers, tool and manual.
for f in "$libdir/libjpegcodec.so.1" "$libdir/libjpegcodec.a" "$prefix/include/jpegcodec/bn_streams.h" \
         "$prefix/bin/jpegtool" "$prefix/share/man/man1/jpegtool.1" "$libdir/pkgconfig/jpegcodec.pc" \
         "$libdir/cmake/jpegcodec/jpegcodecConfig.cmake"; do
  [ -e "$f" ] || fail "missing $f"
done
readelf -d "$libdir/libjpegcodec.so.1" | grep "SONAME.*\[libjpegcodec.so.1\]" >/dev/null || fail "soname"
# Only the documented interface is exported: no standard-library instances.
if nm -D --defined-only -C "$libdir/libjpegcodec.so.1" | grep -E ' (std::|__gnu_cxx::)'; then
  fail "the shared library exports standard-library symbols"
fi
nm -D --defined-only "$libdir/libjpegcodec.so.1" | grep -w JPEGOpen >/dev/null || fail "JPEGOpen is not exported"
"$prefix/bin/jpegtool" --version >/dev/null

cd "$work"
example=$source/tests/abi/readme_example.c
awk '/^```cpp$/ {inside = 1; next} /^```$/ {if (inside) exit} inside' "$source/README.md" >readme_example.inc
export PKG_CONFIG_PATH=$libdir/pkgconfig
pc() { pkg-config "$@" jpegcodec; }
# Shared, through pkg-config.
cc -std=c11 -Wall -Werror "$example" $(pc --cflags) $(pc --libs) -Wl,-rpath,"$libdir" -o c_pc
c++ -std=c++17 -Wall -Werror -I. "$source/tests/install/host.cc" $(pc --cflags) $(pc --libs) \
    -Wl,-rpath,"$libdir" -o cpp_pc
# The archive defines as global exactly the names the shared library exports.
globals() { nm "$@" --defined-only | awk 'NF == 3 {print $3}' | sort -u; }
cmp <(globals -g "$libdir/libjpegcodec.a") <(globals -D "$libdir/libjpegcodec.so.1") >/dev/null \
  || fail "the archive defines names the shared library does not export"
# Fully static, with exactly what pkg-config prints for static linking, in a
# host that defines the names the codec uses inside for itself.
cc -static -std=c11 -Wall -Werror "$example" "$source/tests/abi/static_collision.c" $(pc --cflags) \
   $(pc --static --libs) -o c_pc_static
if readelf -d c_pc_static | grep NEEDED >/dev/null; then fail "c_pc_static is not static"; fi
for program in ./c_pc ./cpp_pc ./c_pc_static; do
  rm -f out.jpg
  "$program" out.jpg >/dev/null || fail "$program failed"
done
ldd ./c_pc | grep "$libdir/libjpegcodec.so.1" >/dev/null || fail "c_pc does not use the installed library"
djpeg out.jpg >/dev/null || fail "the static C host wrote no JPEG file"

# Through find_package, shared and static.
cmake -S "$source/tests/install" -B consumer -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DEXAMPLE_C="$example" -DEXAMPLE_INC_DIR="$work" -DCMAKE_BUILD_TYPE=Release -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build consumer >/dev/null
for program in c_host_shared c_host_static cpp_host_shared cpp_host_static; do
  rm -f out.jpg
  "./consumer/$program" out.jpg >/dev/null || fail "$program failed"
done
echo "check_install: the installed tree builds and runs C and C++ hosts (pkg-config, find_package)"
