#!/usr/bin/env bash
# Installs, with apt-get, what a purpose needs when any of it is missing.
# Safe to run again.
# Usage: scripts/install-deps.sh [build|test]   (default: test, which includes build)
#   build  compiler and build tools: enough to build the library and jpegtool
#   test   + GoogleTest, clang and libFuzzer, the system libjpeg-turbo and its
#          programs (the reference peer), ImageMagick, Pillow and Ghostscript
#          (the other peers the tests read and write with), pkg-config for the
#          install test
set -euo pipefail
build_packages=(cmake ninja-build g++)
test_packages=(clang libclang-rt-14-dev libgtest-dev libgmock-dev libjpeg62-turbo-dev
               libjpeg-turbo-progs imagemagick python3-pil ghostscript pkg-config)
case "${1:-test}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
