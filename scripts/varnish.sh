#!/usr/bin/env bash
# A private Varnish on 127.0.0.1 in front of the tests' nginx, with its own
# settings (the built-in VCL: it answers a request for several spans with 416)
# and everything it writes in the state folder. The system's Varnish service
# is never used.
#
#   varnish.sh start <backend-port-file> <state-dir>
#   varnish.sh stop <state-dir>
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

start() {
  [ $# -ge 2 ] || usage
  local backend state port attempt i
  backend=$(cat "$1")
  mkdir -p "$2"
  state=$(cd "$2" && pwd)
  stop "$state"
  rm -f "$state/port"
  : >"$state/access.log"
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    # Storage for the benchmark's 64 MiB archive (allocated as used); few threads.
    if varnishd -a "127.0.0.1:$port" -b "127.0.0.1:$backend" -n "$state/work" -P "$state/varnishd.pid" \
        -s malloc,256m -p thread_pool_min=5 -p thread_pools=1 </dev/null >>"$state/varnish.out" 2>&1; then
      for i in $(seq 1 50); do
        if port_answers "$port"; then
          varnishncsa -n "$state/work" -D -P "$state/ncsa.pid" -a -w "$state/access.log" \
            -F '%r	%s	%b	%{Range}i' </dev/null >>"$state/varnish.out" 2>&1
          echo "$port" >"$state/port"
          echo "varnish: caching 127.0.0.1:$backend on 127.0.0.1:$port"
          return 0
        fi
        sleep 0.1
      done
      stop "$state"
    fi
    echo "varnish: start on port $port failed (attempt $attempt)" >&2
  done
  tail -n 20 "$state/varnish.out" >&2 || true
  return 1
}

stop() {
  [ $# -ge 1 ] || usage
  local state=$1 f
  for f in ncsa.pid varnishd.pid; do
    [ -f "$state/$f" ] && stop_pid "$(cat "$state/$f")" "$state/work"
    rm -f "$state/$f"
  done
  rm -f "$state/port"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
