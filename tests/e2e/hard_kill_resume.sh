#!/usr/bin/env bash
# A player's PC switched off in the middle of a download: the updater is
# killed hard (wineserver -k: no chance to tidy up) while it fetches a large
# file over a slow line. The next run must ask only for the rest (a Range
# request that continues the kept bytes) and install the file whole.
#   hard_kill_resume.sh <source dir> <build dir>
set -euo pipefail
root=$1 build=$2
work=$build/tests/work/hard_kill_resume
state=$work/nginx
rm -rf "$work"
mkdir -p "$work/release" "$work/site" "$work/prog"
trap 'bash "$root/scripts/nginx.sh" stop "$state" >/dev/null 2>&1 || true; wineserver -p >/dev/null 2>&1 </dev/null || true' EXIT

head -c 6000000 /dev/urandom >"$work/release/big.pak"
echo "readme" >"$work/release/readme.txt"
"$build/native/publish" "$work/release" "$work/site" Hollo >"$work/publish.log"
# 1 MB/s: the kill lands well inside the large file.
bash "$root/scripts/nginx.sh" start "$work/site" "$state" 1m >/dev/null
cp "$build/bin/selfrenew.exe" "$work/prog/Selfrenew.kro"
cp -r "$build/bin/UpdateRes" "$work/prog/"
printf '1;1;test;127.0.0.1;%s\r\n' "$(cat "$state/port")" >"$work/prog/update.ini"
cd "$work/prog"

wine Selfrenew.kro Hollo >"$work/run1.log" 2>&1 </dev/null &
for _ in $(seq 1 300); do
  [ "$(stat -c %s big.pak.part 2>/dev/null || echo 0)" -gt 1500000 ] && break
  sleep 0.1
done
wineserver -k
wait || true
kept=$(stat -c %s big.pak.part 2>/dev/null || echo 0)
[ "$kept" -gt 0 ] && [ -s big.pak.part.v ] || { echo "the kill left no part with its note (part: $kept bytes)" >&2; ls -la >&2; exit 1; }
[ ! -e big.pak ] || { echo "a half file was installed" >&2; exit 1; }

wineserver -p >/dev/null 2>&1 </dev/null || true
timeout 120 wine Selfrenew.kro Hollo >"$work/run2.log" 2>&1 </dev/null || true
cmp big.pak "$work/release/big.pak" || { echo "the resumed file differs from the release" >&2; exit 1; }
[ ! -e big.pak.part ] && [ ! -e big.pak.part.v ] || { echo "the part was left behind" >&2; exit 1; }
# The second run's request for the file continues where the first one stopped.
ranges=$(grep -P '^GET /kroupdate/Hollo/release/big\.pak[ ?]' "$state/ranges.log" | cut -f4)
echo "requests for big.pak (Range): $(echo $ranges)"
resumed=$(echo "$ranges" | sed -n 2p)
case "$resumed" in
  bytes=[1-9]*-) echo "resumed after a hard kill at $kept bytes with Range: $resumed" ;;
  *) echo "the second run didn't resume: $resumed" >&2; exit 1 ;;
esac
