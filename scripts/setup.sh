#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

packages=(
  cmake make g++ python3 zlib1g-dev libssl-dev libcurl4-openssl-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  libgtest-dev
  wine wine32:i386 libgnutls30 libgnutls30:i386
  xvfb x11-apps fonts-wqy-zenhei locales
  nginx-light curl
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The ANSI code page of the program is 936: Wine takes it from a Chinese locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# MinGW's C++ compiler must use the posix thread model (std::thread, std::mutex).
if [ -x /usr/bin/i686-w64-mingw32-g++-posix ]; then
  cur=$(readlink -f /usr/bin/i686-w64-mingw32-g++ 2>/dev/null || true)
  case "$cur" in *posix*) ;; *)
    $SUDO update-alternatives --set i686-w64-mingw32-g++ /usr/bin/i686-w64-mingw32-g++-posix >/dev/null 2>&1 || true
    $SUDO update-alternatives --set i686-w64-mingw32-gcc /usr/bin/i686-w64-mingw32-gcc-posix >/dev/null 2>&1 || true ;;
  esac
fi
echo "setup: all build and test tools are present"
