#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine.
# Safe to run again: it only installs what is missing.
#
# It survives a package mirror in the middle of a sync: a failing index is a
# warning (the indexes that did arrive are used), and the 32-bit Wine packages,
# which lag the 64-bit ones on such days, are tried last and may be left out:
# scripts/arch.sh then runs the tests as a 64-bit build.
set -euo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# What every machine needs, whichever architecture the tests run as.
packages=(
  cmake make g++ python3 zlib1g-dev libssl-dev libcurl4-openssl-dev libxxhash-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  libgtest-dev
  wine wine64 wine64-preloader libgnutls30
  xvfb x11-apps fonts-wqy-zenhei locales
  nginx-light curl zsync squid
  libzstd-dev zstd dpkg-dev
  varnish lighttpd trafficserver
)
# Without its preloader, 64-bit Wine now and then fails to reserve its address
# space at start (a process that never runs); so it is part of every machine.
# Wanted where the kernel and the mirror allow: the 32-bit loader and its CNG.
packages32=(wine32:i386 libgnutls30:i386)

missing_of() {  # prints the packages of "$@" that are not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || echo "$p"
  done
}

updated=0
update_indexes() {
  [ "$updated" -eq 1 ] && return 0
  updated=1
  local log
  log=$(mktemp)
  if ! $SUDO apt-get update -qq >"$log" 2>&1; then
    echo "setup: warning: some package indexes failed to update (a mirror in sync?); using those that arrived" >&2
    grep -E '^(E|W):' "$log" | head -n 3 | sed 's/^/setup:   /' >&2 || true
  fi
  rm -f "$log"
}

install_all() {  # installs "$@"; fails as apt-get does
  $SUDO apt-get install -y -qq --no-install-recommends "$@"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

mapfile -t missing < <(missing_of "${packages[@]}")
if [ "${#missing[@]}" -gt 0 ]; then
  update_indexes
  if ! install_all "${missing[@]}"; then
    echo "setup: error: could not install: ${missing[*]}" >&2
    exit 1
  fi
fi

# A refusal is remembered for six hours, so that every test run doesn't ask again.
stamp32=${SELFRENEW_SETUP_STAMP:-/var/tmp/selfrenew-no-wine32}
mapfile -t missing32 < <(missing_of "${packages32[@]}")
if [ "${#missing32[@]}" -gt 0 ]; then
  if [ -n "$(find "$stamp32" -mmin -360 2>/dev/null)" ]; then
    echo "setup: the 32-bit Wine packages couldn't be installed earlier today; the tests run the 64-bit build"
  else
    update_indexes
    if install_all "${missing32[@]}" >/dev/null 2>&1; then
      rm -f "$stamp32"
    else
      touch "$stamp32" 2>/dev/null || true
      echo "setup: the 32-bit Wine packages can't be installed today (${missing32[*]}); the tests run the 64-bit build"
    fi
  fi
fi

# The ANSI code page of the program is 936: Wine takes it from a Chinese locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# MinGW's C++ compiler must use the posix thread model (std::thread, std::mutex).
for arch in i686 x86_64; do
  if [ -x "/usr/bin/$arch-w64-mingw32-g++-posix" ]; then
    cur=$(readlink -f "/usr/bin/$arch-w64-mingw32-g++" 2>/dev/null || true)
    case "$cur" in *posix*) ;; *)
      $SUDO update-alternatives --set "$arch-w64-mingw32-g++" "/usr/bin/$arch-w64-mingw32-g++-posix" >/dev/null 2>&1 || true
      $SUDO update-alternatives --set "$arch-w64-mingw32-gcc" "/usr/bin/$arch-w64-mingw32-gcc-posix" >/dev/null 2>&1 || true ;;
    esac
  fi
done

# zstd for the cross builds (the client's patch decoder, publish.exe's encoder):
# Debian packages no MinGW build of it, so its static library is built from
# Debian's own source package, which apt-get checks against the signed index
# and dpkg-source against the .dsc. Built once per architecture into
# $SELFRENEW_DEPS (CMake looks there); skipped when both libraries are there.
deps=${SELFRENEW_DEPS:-/var/cache/selfrenew-deps}
src_list=/etc/apt/sources.list.d/selfrenew-src.sources
zstd_built() { [ -f "$deps/$1/lib/libzstd.a" ] && [ -f "$deps/$1/include/zstd.h" ]; }
add_source_entry() {  # the distribution's own binary entries, as deb-src
  [ -f "$src_list" ] && return 0
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # Every stanza of the enabled deb822 files whose suites name this release.
  awk -v rel="$codename" '
    BEGIN { RS=""; ORS="\n\n" }
    $0 ~ ("Suites:[^\n]*(^|[ \t])" rel "([ \t\n]|$)") && $0 ~ /Types:[^\n]*deb/ {
      out=""; n=split($0, lines, "\n")
      for (i=1; i<=n; i++) {
        if (lines[i] ~ /^#/) continue
        if (lines[i] ~ /^Types:/) lines[i]="Types: deb-src"
        if (lines[i] ~ /^Suites:/) lines[i]="Suites: " rel
        out=out lines[i] "\n"
      }
      printf "%s\n", out
    }' /etc/apt/sources.list.d/*.sources | $SUDO tee "$src_list" >/dev/null
  if ! grep -q '^URIs:' "$src_list"; then
    $SUDO rm -f "$src_list"
    echo "setup: error: no deb822 entry for this release to take a deb-src entry from" >&2
    return 1
  fi
  updated=0
}
build_zstd_mingw() {
  local work arch dir
  add_source_entry
  update_indexes
  work=$(mktemp -d)
  chmod 755 "$work"  # apt's unprivileged downloader writes into it
  (cd "$work" && apt-get source -qq zstd >/dev/null)
  dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  if [ -z "$dir" ] || [ ! -f "$dir/lib/zstd.h" ]; then
    echo "setup: error: zstd's source package didn't unpack" >&2
    return 1
  fi
  for arch in i686 x86_64; do
    zstd_built "$arch" && continue
    make -s -C "$dir/lib" clean >/dev/null 2>&1 || true
    # The static library only, single-threaded; no legacy formats.
    make -s -C "$dir/lib" -j2 libzstd.a CC="$arch-w64-mingw32-gcc" AR="$arch-w64-mingw32-ar" \
         ZSTD_LEGACY_SUPPORT=0 CFLAGS="-O2" >/dev/null
    $SUDO mkdir -p "$deps/$arch/lib" "$deps/$arch/include"
    $SUDO cp "$dir/lib/libzstd.a" "$deps/$arch/lib/"
    $SUDO cp "$dir/lib/zstd.h" "$dir/lib/zstd_errors.h" "$dir/lib/zdict.h" "$deps/$arch/include/"
  done
  rm -rf "$work"
}
if ! zstd_built i686 || ! zstd_built x86_64; then
  build_zstd_mingw
fi

. "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
echo "setup: all build and test tools are present; the tests run the $SELFRENEW_ARCH build"
