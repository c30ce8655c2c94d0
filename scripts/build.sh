#!/usr/bin/env bash
# Configures and builds the program and its tests into BUILD_DIR (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$root/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$root/$BUILD_DIR" ;; esac
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" -- --no-print-directory
# The publisher for the host system, which operators and the end-to-end tests run.
cmake -S "$root/tools/native" -B "$BUILD_DIR/native" >/dev/null
cmake --build "$BUILD_DIR/native" -j"$(nproc)" -- --no-print-directory
