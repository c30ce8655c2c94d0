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
# Names whose GBK bytes lighttpd's default request parsing refuses (400).
mkdir -p "$rel/数据"
printf 'update\n' >"$rel/数据/更新.txt"
"$publish" "$rel" "$site" 61
