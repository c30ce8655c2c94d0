#!/usr/bin/env bash
# A private nginx on 127.0.0.1 caching the tests' nginx (proxy_cache), set up
# as the operators' guide says: a request for several spans goes to the
# origin with its Range, since nginx's cache answers one with the whole file.
# Everything it writes stays in the state folder.
#
#   nginx_cache.sh start <backend-port-file> <state-dir>
#   nginx_cache.sh stop <state-dir>
#
# start writes the chosen port to <state-dir>/port. <state-dir>/access.log has
# one line per answer to a client: request line, status, body bytes sent and
# the Range header ("-" without one), tab-separated.
set -euo pipefail
. "$(dirname "$0")/loopback.sh"

usage() {
  echo "usage: $0 start <backend-port-file> <state-dir> | stop <state-dir>" >&2
  exit 2
}

write_config() {
  local state=$1 port=$2 backend=$3 user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat >"$state/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon on;
pid $state/nginx.pid;
error_log $state/error.log notice;
events { worker_connections 256; }
http {
  log_format ranges '\$request\t\$status\t\$body_bytes_sent\t\$http_range';
  access_log $state/access.log ranges;
  client_body_temp_path $state/tmp/body;
  proxy_temp_path $state/tmp/proxy;
  fastcgi_temp_path $state/tmp/fastcgi;
  uwsgi_temp_path $state/tmp/uwsgi;
  scgi_temp_path $state/tmp/scgi;
  proxy_cache_path $state/cache keys_zone=releases:10m max_size=512m;
  map \$http_range \$multi_range { "~," 1; default 0; }
  map \$http_range \$multi_range_header { "~," \$http_range; default ""; }
  map \$http_range \$multi_if_range { "~," \$http_if_range; default ""; }
  server {
    listen 127.0.0.1:$port;
    location / {
      proxy_pass http://127.0.0.1:$backend;
      proxy_http_version 1.1;
      proxy_cache releases;
      proxy_cache_bypass \$multi_range;
      proxy_no_cache \$multi_range;
      proxy_set_header Range \$multi_range_header;
      proxy_set_header If-Range \$multi_if_range;
    }
  }
}
CONF
}

start() {
  [ $# -ge 2 ] || usage
  local backend state
  backend=$(cat "$1")
  mkdir -p "$2"
  state=$(cd "$2" && pwd)
  stop "$state"
  rm -rf "$state/cache" "$state/tmp"
  mkdir -p "$state/cache" "$state/tmp"
  : >"$state/access.log"
  launch() {
    write_config "$state" "$1" "$backend"
    nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log" </dev/null >>"$state/nginx.out" 2>&1
  }
  halt() { stop "$state"; }
  if start_on_free_port "$state" launch halt; then
    echo "nginx cache: caching 127.0.0.1:$backend on 127.0.0.1:$(cat "$state/port")"
    return 0
  fi
  tail -n 20 "$state/error.log" "$state/nginx.out" >&2 || true
  return 1
}

stop() {
  [ $# -ge 1 ] || usage
  local state=$1
  [ -f "$state/nginx.pid" ] && stop_pid "$(cat "$state/nginx.pid")" "$state/nginx.conf"
  rm -f "$state/nginx.pid" "$state/port"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
