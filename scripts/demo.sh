#!/usr/bin/env bash
# The program's main job, end to end on this machine: builds the updater,
# publishes a sample release, serves it with nginx on 127.0.0.1 (throttled so
# the progress can be watched), runs selfrenew.exe from a program folder under
# Wine on a virtual display, takes a screenshot of the window mid-run, and
# says what was updated and whether the game hall was started. The release is
# signed: the demo's key pair lives in the build tree, and the updater it runs
# is built with the public key, so it installs nothing the key didn't sign.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$root/$BUILD_DIR" ;; esac
RATE=${LIMIT_RATE:-400k}

"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null

# The publisher's key pair, made once per build tree (keygen never overwrites
# a private key), and the updater built with its public key: only the
# selfrenew target, in a build folder of its own.
keys="$BUILD_DIR/demo-keys"
[ -f "$keys/private.pem" ] || "$BUILD_DIR/native/publish" keygen "$keys" >/dev/null
. "$root/scripts/arch.sh"
signed_build="$BUILD_DIR/signed-$SELFRENEW_ARCH"
if [ ! -f "$signed_build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$signed_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$SELFRENEW_ARCH.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DUPDATE_PUBLIC_KEY="$keys/public.pem" >/dev/null
fi
cmake --build "$signed_build" -j"$(nproc)" --target selfrenew -- --no-print-directory >/dev/null

demo="$BUILD_DIR/demo"
rm -rf "$demo"
mkdir -p "$demo/release/data/maps" "$demo/release/skin/main" "$demo/release/sound" "$demo/program" "$demo/site"

# A sample release of the game hall: the stand-in hall program and some data.
cp "$BUILD_DIR/tests/bin/GameHollo.exe" "$demo/release/GameHollo.exe"
head -c 2500000 /dev/urandom >"$demo/release/data/maps/town.map"
head -c 900000 /dev/urandom >"$demo/release/sound/bgm.ogg"
head -c 300000 /dev/urandom >"$demo/release/skin/main/bg.bmp"
printf 'Welcome to the game hall.\r\n' >"$demo/release/readme.txt"
"$BUILD_DIR/native/publish" --key "$keys/private.pem" --expires-days 30 "$demo/release" "$demo/site" Hollo >/dev/null
serial=$(head -n1 "$demo/site/kroupdate/Hollo/filelist.sig" | cut -d: -f4)

# The installed program: the updater, its skin and its server list.
cp "$signed_build/bin/selfrenew.exe" "$demo/program/"
cp -r "$BUILD_DIR/bin/UpdateRes" "$demo/program/"

. "$root/scripts/wine-env.sh"
cleanup() {
  bash "$root/scripts/nginx.sh" stop "$demo/nginx" >/dev/null 2>&1 || true
  wine_down
  xvfb_down
}
trap cleanup EXIT
xvfb_up
wine_up
LIMIT_RATE=$RATE bash "$root/scripts/nginx.sh" start "$demo/site" "$demo/nginx" >/dev/null
port=$(cat "$demo/nginx/port")
printf '# line key 1: the update servers of this installation\r\n1;1;local;127.0.0.1;%s\r\n' "$port" >"$demo/program/update.ini"
echo "demo: release published, signed with $keys/private.pem (serial $serial, expires in 30 days),"
echo "      served on 127.0.0.1:$port (limit_rate $RATE); the updater carries $keys/public.pem"

# The game hall would start this; the launcher hands over to Selfrenew.kro.
(cd "$demo/program" && wine selfrenew.exe >"$demo/launcher.log" 2>&1 </dev/null &)

shot="$demo/window.png"
taken=""
for _ in $(seq 1 600); do
  # The log has a line once a response is complete: the big map file is then
  # on its way, and after three seconds its speed shows too.
  if [ -z "$taken" ] && grep -q 'GET /kroupdate/Hollo/release/GameHollo.exe' "$demo/nginx/access.log" 2>/dev/null; then
    sleep 4
    xwd -root -silent -display "$DISPLAY" >"$demo/screen.xwd" && python3 "$root/scripts/xwd2png.py" "$demo/screen.xwd" "$shot" && taken=1
  fi
  [ -f "$demo/program/gamehollo.log" ] && break
  sleep 0.1
done

echo "demo: files of the release in the program folder:"
status=0
(cd "$demo/release" && find . -type f | sort) | while read -r f; do
  if cmp -s "$demo/release/$f" "$demo/program/$f"; then
    printf '  updated  %-22s %8d bytes\n' "${f#./}" "$(stat -c %s "$demo/program/$f")"
  else
    printf '  MISSING  %s\n' "${f#./}"
  fi
done
echo "demo: requests served: $(wc -l <"$demo/nginx/access.log")"
# The updater keeps the serial of a release only once it has verified the
# signature and installed every file against its signed size and SHA-256.
accepted=$(tr -d '\r\n' <"$demo/program/UpdateINI/Hollo/serial" 2>/dev/null || true)
if [ -n "$serial" ] && [ "$accepted" = "$serial" ]; then
  echo "demo: signed release verified: signature, sizes and SHA-256 accepted, serial $accepted stored"
else
  echo "demo: signed release NOT verified (stored serial '${accepted}', published $serial)"; status=1
fi
if [ -f "$demo/program/gamehollo.log" ]; then
  echo "demo: the game hall was started: $(tr -d '\r' <"$demo/program/gamehollo.log")"
else
  echo "demo: the game hall was NOT started"; status=1
fi
if [ -n "$taken" ]; then echo "demo: screenshot of the window mid-run: $shot"; else echo "demo: no screenshot taken"; status=1; fi
exit $status
