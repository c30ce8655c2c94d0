#!/usr/bin/env bash
# Checks the nginx fixture: a file put into the site comes back byte for byte,
# a missing one gives 404, and both requests show in the access log.
set -euo pipefail
site=$1 state=$2
port=$(cat "$state/port")
dir="$site/fixture-check"
mkdir -p "$dir"
printf 'fixture %s\n' "$$" >"$dir/hello.txt"

body=$(curl -sS --max-time 5 "http://127.0.0.1:$port/fixture-check/hello.txt")
[ "$body" = "fixture $$" ] || { echo "served body was: $body" >&2; exit 1; }
code=$(curl -sS --max-time 5 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/fixture-check/none.txt")
[ "$code" = 404 ] || { echo "missing file gave $code" >&2; exit 1; }

# nginx logs a request when it has sent the response, so allow it a moment.
size=$(stat -c %s "$dir/hello.txt")
for _ in $(seq 1 30); do
  if grep -qP "^GET /fixture-check/hello\.txt HTTP/1\.1\t200\t$size\t\d+\.\d{3}\t\d+\.\d{3}$" "$state/access.log" &&
     grep -qP "^GET /fixture-check/none\.txt HTTP/1\.1\t404\t" "$state/access.log"; then
    echo "nginx fixture serves 127.0.0.1:$port"
    exit 0
  fi
  sleep 0.1
done
echo "access log lacks the requests:" >&2
cat "$state/access.log" >&2
exit 1
