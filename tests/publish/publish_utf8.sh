#!/usr/bin/env bash
# Publishes a release with UTF-8 names (a Chinese file in a Chinese folder)
# into the tests' nginx site with the native publisher, as product 61, for the
# client test that installs it under Wine.
set -euo pipefail
publish=$1 site=$2 work=$3
rel="$work/utf8-release"
rm -rf "$rel"
mkdir -p "$rel/中文目录"
printf '中文内容\n' >"$rel/中文目录/中文文件.txt"
printf 'plain\n' >"$rel/readme.txt"
"$publish" "$rel" "$site" 61
