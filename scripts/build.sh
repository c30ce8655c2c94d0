#!/usr/bin/env bash
# Configures and builds the program and its tests into BUILD_DIR (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$root/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$root/$BUILD_DIR" ;; esac
. "$root/scripts/arch.sh"
# The tests' build: the shipped 32-bit one wherever Wine can run it.
configure() {  # <build dir> <arch> [cmake options...]
  local dir=$1 arch=$2
  shift 2
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "toolchain-mingw-$arch.cmake" "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
          -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  fi
}
configure "$BUILD_DIR" "$SELFRENEW_ARCH"
cmake --build "$BUILD_DIR" -j"$(nproc)" -- --no-print-directory
if [ "$SELFRENEW_ARCH" != i686 ]; then
  # The program players get is still the 32-bit one: it must keep building.
  configure "$BUILD_DIR/win32" i686 -DBUILD_TESTING=OFF
  cmake --build "$BUILD_DIR/win32" -j"$(nproc)" --target selfrenew publish -- --no-print-directory
fi
# The publisher for the host system, which operators and the end-to-end tests run.
cmake -S "$root/tools/native" -B "$BUILD_DIR/native" >/dev/null
cmake --build "$BUILD_DIR/native" -j"$(nproc)" -- --no-print-directory
