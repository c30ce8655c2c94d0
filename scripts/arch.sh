# Sourced by the scripts: which Windows architecture the tests run as here.
# The program ships as a 32-bit build; a kernel without 32-bit support can't
# start Wine's 32-bit loader, and there the tests run a 64-bit build of the
# same sources under 64-bit Wine (the shipped 32-bit program is still built).
if [ -z "${SELFRENEW_ARCH:-}" ]; then
  if "${SELFRENEW_WINE32:-/usr/lib/wine/wine}" --version >/dev/null 2>&1; then
    SELFRENEW_ARCH=i686
  else
    SELFRENEW_ARCH=x86_64
  fi
fi
export SELFRENEW_ARCH
