#!/usr/bin/env bash
# The update benchmark (not part of the tests): builds the updater and the
# peers, brings up Wine and a virtual display, and runs bench/bench.py, which
# prints the table and writes it to $BUILD_DIR/bench/table.md.
#   bash bench/run.sh [--repeat N] [--only small|big|line|scan|delta|patch|cache] [--lines 30,100,loopback]
#                     [--line-repeat N] [--transfers N] [--keep]
#   bash bench/run.sh --only line    # the emulated players' lines only
#   bash bench/run.sh --only scan    # runs with nothing to do over 20,000 files / 10 GB and 3,333 small files
#   bash bench/run.sh --only delta   # changed large archives against zsync (a few minutes)
#   bash bench/run.sh --only patch   # two real version pairs from Debian's archive, binary patches against zsync
#   bash bench/run.sh --only cache   # through Varnish against direct to nginx (about a minute)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$root/$BUILD_DIR" ;; esac

"$root/scripts/setup.sh"
. "$root/scripts/arch.sh"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$SELFRENEW_ARCH.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# Only what the benchmark runs: the tests need not build for it.
targets="selfrenew wininet_peer check_peer scan_bench"
grep -q '^selfrenew_skin' <(cmake --build "$BUILD_DIR" --target help | sed 's/^\.\.\. //') && targets="$targets selfrenew_skin"
# The stand-in game hall: the scan section times the run up to its start.
grep -q '^GameHollo' <(cmake --build "$BUILD_DIR" --target help | sed 's/^\.\.\. //') && targets="$targets GameHollo"
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j"$(nproc)" --target $targets -- --no-print-directory >/dev/null
cmake -S "$root/tools/native" -B "$BUILD_DIR/native" >/dev/null
cmake --build "$BUILD_DIR/native" -j"$(nproc)" --target publish -- --no-print-directory >/dev/null
[ -d "$BUILD_DIR/bin/UpdateRes" ] || { echo "bench: no skin in $BUILD_DIR/bin/UpdateRes" >&2; exit 1; }

. "$root/scripts/wine-env.sh"
trap 'wine_down; xvfb_down' EXIT
xvfb_up
no_wine=()
# Without a Wine that starts, the native clients still run.
if ! wine_up || ! wine cmd /c exit >/dev/null 2>&1; then
  echo "bench: Wine does not start here (see $BUILD_DIR/logs/wineboot.log); only curl and the line's limit run" >&2
  no_wine=(--no-wine)
fi

t0=$(date +%s)
echo "machine: $(nproc) CPUs, $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo)," \
     "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version 2>/dev/null || echo "no Wine")"
python3 "$root/bench/bench.py" --work "$BUILD_DIR/bench" --bin "$BUILD_DIR/bin" \
  --peers "$BUILD_DIR/bench/bin" --publisher "$BUILD_DIR/native/publish" \
  --nginx "$root/scripts/nginx.sh" "${no_wine[@]}" "$@"
echo "bench: $(( $(date +%s) - t0 )) s"
