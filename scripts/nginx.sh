#!/usr/bin/env bash
# A private nginx on 127.0.0.1 that serves a folder as static files, for the
# end-to-end tests. Everything it writes stays in the state folder; the
# system's nginx configuration and service are never used.
#
#   nginx.sh start <root-dir> <state-dir> [limit-rate]   (or LIMIT_RATE=200k)
#   nginx.sh stop <state-dir>
#
# start writes the chosen port to <state-dir>/port. <state-dir>/access.log has
# one line per request with tab-separated fields:
#   request line, status, body bytes sent, end time ($msec: seconds with
#   milliseconds), request time in seconds.
# <state-dir>/ranges.log has the request line, status, body bytes sent and the
# Range header as sent ("-" without one).
set -euo pipefail

usage() {
  echo "usage: $0 start <root-dir> <state-dir> [limit-rate] | stop <state-dir>" >&2
  exit 2
}

# free_port, port_answers
. "$(dirname "$0")/loopback.sh"

write_config() {
  local root=$1 state=$2 port=$3 rate=$4
  local user_line=""
  # A root master would hand its workers to an unprivileged user that may not
  # read the build tree; without root the directive only draws a warning.
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat >"$state/nginx.conf" <<EOF
$user_line
worker_processes 1;
daemon on;
pid $state/nginx.pid;
error_log $state/error.log notice;
events { worker_connections 256; }
http {
  default_type application/octet-stream;
  log_format e2e '\$request\t\$status\t\$body_bytes_sent\t\$msec\t\$request_time';
  access_log $state/access.log e2e;
  log_format ranges '\$request\t\$status\t\$body_bytes_sent\t\$http_range';
  access_log $state/ranges.log ranges;
  client_body_temp_path $state/tmp/body;
  proxy_temp_path $state/tmp/proxy;
  fastcgi_temp_path $state/tmp/fastcgi;
  uwsgi_temp_path $state/tmp/uwsgi;
  scgi_temp_path $state/tmp/scgi;
  # The operators' guide's cache headers, so a cache in front serves as it
  # would in production: versioned addresses for ever, the rest revalidated.
  map \$arg_v \$release_cache { "" "no-cache"; default "public, max-age=31536000, immutable"; }
  server {
    listen 127.0.0.1:$port;
    server_name localhost;
    root $root;
    ${rate:+limit_rate $rate;}
    location /kroupdate/ {
      add_header Cache-Control \$release_cache always;
      location ~ /filelist\.(list|sig)\$ { add_header Cache-Control "no-cache" always; }
    }
  }
}
EOF
}

start() {
  [ $# -ge 2 ] || usage
  local root state rate=${3:-${LIMIT_RATE:-}}
  mkdir -p "$1" "$2"
  root=$(cd "$1" && pwd)
  state=$(cd "$2" && pwd)
  # A fixture left over from an aborted run would hold the old port.
  [ -f "$state/nginx.pid" ] && stop "$state"
  mkdir -p "$state/tmp"
  rm -f "$state/port"
  : >"$state/access.log"
  : >"$state/ranges.log"
  local attempt port i
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    write_config "$root" "$state" "$port" "$rate"
    # The daemon must not keep the caller's output open (ctest waits for it).
    if nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log" \
        </dev/null >>"$state/nginx.out" 2>&1; then
      for i in $(seq 1 50); do
        if port_answers "$port"; then
          echo "$port" >"$state/port"
          echo "nginx: serving $root on 127.0.0.1:$port"
          return 0
        fi
        sleep 0.1
      done
      echo "nginx: port $port did not answer within 5 s" >&2
      stop "$state"
      return 1
    fi
    echo "nginx: start on port $port failed (attempt $attempt)" >&2
  done
  tail -n 20 "$state/error.log" "$state/nginx.out" >&2 || true
  return 1
}

stop() {
  [ $# -ge 1 ] || usage
  local state=$1 pid i
  [ -f "$state/nginx.pid" ] || return 0
  pid=$(cat "$state/nginx.pid")
  # A stale pid file may name some other process by now: only ours is signalled.
  if [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$state/nginx.conf"; then
    kill -QUIT "$pid" 2>/dev/null || true
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    # A graceful stop waits for running transfers; don't wait past 5 s.
    if kill -0 "$pid" 2>/dev/null; then
      local workers
      workers=$(ps -o pid= --ppid "$pid" || true)
      kill -TERM "$pid" 2>/dev/null || true
      for i in $(seq 1 20); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      # shellcheck disable=SC2086
      kill -KILL "$pid" $workers 2>/dev/null || true
    fi
  fi
  rm -f "$state/nginx.pid" "$state/port"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
