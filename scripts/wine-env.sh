# Sourced by the scripts: one Wine prefix per build tree, a Chinese ANSI code page
# and a virtual display. Expects BUILD_DIR to be set (absolute).
export LC_ALL=zh_CN.UTF-8
export LANG=zh_CN.UTF-8
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

. "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
if [ "$SELFRENEW_ARCH" = x86_64 ]; then
  # Debian's wine commands prefer the 32-bit loader whenever it is installed,
  # even where the kernel can't run it: point them at the 64-bit one.
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  mkdir -p "$BUILD_DIR/winebin"
  for shim in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$BUILD_DIR/winebin/$shim"
    chmod +x "$BUILD_DIR/winebin/$shim"
  done
  case ":$PATH:" in *":$BUILD_DIR/winebin:"*) ;; *) export PATH="$BUILD_DIR/winebin:$PATH" ;; esac
fi

# Boots the prefix once and keeps its server up, so that Wine's long-lived helper
# processes start here (with output to a file) and not inside a test.
wine_up() {
  mkdir -p "$BUILD_DIR/logs"
  # A persistent server first: every later Wine start then costs a fraction of a second.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix (once per build tree)"
  fi
  wineboot -i >"$BUILD_DIR/logs/wineboot.log" 2>&1 </dev/null
  # Xvfb runs no window manager: a window Wine lets one manage waits 2 s for
  # it at every hide (so at every end of the update window); nothing does that
  # on Windows, so the prefix manages its windows itself.
  if ! grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$BUILD_DIR/logs/wineboot.log" 2>&1 </dev/null
  fi
}

wine_down() {
  wineserver -k >/dev/null 2>&1 || true
}

# Starts Xvfb on the first free display number from 90 on.
xvfb_up() {
  local n
  mkdir -p "$BUILD_DIR/logs"
  for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$BUILD_DIR/logs/xvfb.log" 2>&1 </dev/null &
      XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      echo "xvfb: display :$n did not come up" >&2
      return 1
    fi
  done
  echo "xvfb: no free display" >&2
  return 1
}

xvfb_down() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
