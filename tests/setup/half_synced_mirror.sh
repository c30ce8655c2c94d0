#!/usr/bin/env bash
# setup.sh on a day when the package mirror is half synced: stand-ins for the
# package tools on PATH make "apt-get update" fail for one index and refuse
# every i386 package, while one needed package is missing and installable.
# setup.sh must install that one, say the 64-bit build runs, and exit 0; and
# it must still fail when a needed package can't be installed.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$WORK/apt.log"
case "$*" in
  *update*) echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size. Mirror sync in progress?"; exit 100 ;;
  *:i386*) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  *"$REFUSE"*) [ -n "$REFUSE" ] && { echo "E: Unable to locate package $REFUSE"; exit 100; } ;;
esac
exit 0
STUB
# Everything is installed but zsync and the i386 packages.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
for p; do :; done
case "$p" in zsync|*:i386) exit 1 ;; esac
printf 'install ok installed'
STUB
printf '#!/bin/sh\n[ "$1" = --print-foreign-architectures ] && echo i386\nexit 0\n' >"$work/bin/dpkg"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/update-alternatives"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/localedef"
printf '#!/bin/sh\necho zh_CN.utf8\n' >"$work/bin/locale"
chmod +x "$work/bin/"*

run_setup() {  # <refused package> : runs setup.sh with the stand-ins
  env -u SELFRENEW_ARCH PATH="$work/bin:$PATH" WORK="$work" REFUSE="$1" \
      SELFRENEW_SETUP_STAMP="$work/stamp" SELFRENEW_WINE32=/nonexistent \
      bash "$root/scripts/setup.sh" >"$work/out" 2>&1
}

fail=0
check() {  # <what> <condition...>
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}

run_setup ""
rc=$?
check "exits 0 with a failing index and no i386 packages" test "$rc" -eq 0
check "installs the missing package" grep -q "install .*zsync" "$work/apt.log"
check "says the 32-bit packages can't be had" grep -q "32-bit Wine packages can't be installed" "$work/out"
check "says the 64-bit build runs" grep -q "the tests run the x86_64 build" "$work/out"
check "warns of the failing index" grep -q "warning: some package indexes failed" "$work/out"

: >"$work/apt.log"
run_setup ""
check "a second run doesn't ask for the i386 packages again" sh -c "! grep -q ':i386' '$work/apt.log'"

run_setup zsync
rc=$?
check "fails when a needed package can't be installed" test "$rc" -ne 0
check "names it" grep -q "could not install: zsync" "$work/out"

[ "$fail" -eq 0 ] || { echo "--- setup's output:"; cat "$work/out"; }
exit "$fail"
