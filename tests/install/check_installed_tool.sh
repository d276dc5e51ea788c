#!/usr/bin/env bash
# Builds jpegtool as a project of its own (tools/CMakeLists.txt) against the
# installed tree only, then runs the installed-tree program once: an encode
# and a decode whose outputs must equal, byte for byte, those of the jpegtool
# of the build directory. Proves the tool needs nothing but the installed
# headers and libjpegcodec.a.
# Usage: check_installed_tool.sh BUILD_DIR SOURCE_DIR IN_TREE_JPEGTOOL
set -euo pipefail
build=$1
source=$2
intree=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "check_installed_tool: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S "$source/tools" -B "$work/tool" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/tool" -j2 >/dev/null || fail "jpegtool does not build against the installed tree"
tool=$work/tool/jpegtool
# Only the installed headers are reachable: no include path into the sources.
if grep -E -e "(-I|-isystem ?)$source" "$work/tool/build.ninja" >/dev/null; then
  fail "the standalone build has the source tree on its include path"
fi

photo=$source/testdata/coffee.ppm
cd "$work"
"$tool" encode --quiet --level 2 "$photo" installed.jpg
"$intree" encode --quiet --level 2 "$photo" intree.jpg
cmp installed.jpg intree.jpg || fail "the encoded files differ"
"$tool" decode --quiet installed.jpg installed.ppm
"$intree" decode --quiet intree.jpg intree.ppm
cmp installed.ppm intree.ppm || fail "the decoded images differ"
[ "$("$tool" --version)" = "$("$intree" --version)" ] || fail "the versions differ"
echo "check_installed_tool: jpegtool built against the installed tree writes the same bytes"
