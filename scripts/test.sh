#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, boots Wine and a virtual
# display, runs ctest. Extra arguments go to ctest (for example -R fetcher).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$root/$BUILD_DIR" ;; esac

t0=$(date +%s)
"$root/scripts/setup.sh"
t1=$(date +%s)
"$root/scripts/build.sh"
t2=$(date +%s)

. "$root/scripts/wine-env.sh"
trap 'wine_down; xvfb_down' EXIT
xvfb_up
wine_up
t3=$(date +%s)
echo "timings: setup $((t1 - t0)) s, build $((t2 - t1)) s, wine and display $((t3 - t2)) s"
# ctest's own summary closes the output (with the total test time).
ctest --test-dir "$BUILD_DIR" --output-on-failure "$@"
