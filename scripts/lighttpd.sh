#!/usr/bin/env bash
# A private lighttpd on 127.0.0.1 that serves a folder for the tests with its
# default request parsing, which refuses every path that decodes to a byte no
# UTF-8 text holds (C0, C1, F5-FF), as many GBK names do: the client then asks
# for the UTF-8 spelling the publisher links. Everything it writes stays in
# the state folder.
#
#   lighttpd.sh start <root-dir> <state-dir>
#   lighttpd.sh stop <state-dir>
#
# start writes the chosen port to <state-dir>/port.
set -euo pipefail
. "$(dirname "$0")/loopback.sh"

usage() {
  echo "usage: $0 start <root-dir> <state-dir> | stop <state-dir>" >&2
  exit 2
}

start() {
  [ $# -ge 2 ] || usage
  local root state port attempt i
  mkdir -p "$1" "$2"
  root=$(cd "$1" && pwd)
  state=$(cd "$2" && pwd)
  stop "$state"
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    cat >"$state/lighttpd.conf" <<CONF
server.document-root = "$root"
server.bind = "127.0.0.1"
server.port = $port
server.pid-file = "$state/lighttpd.pid"
server.errorlog = "$state/error.log"
mimetype.assign = ("" => "application/octet-stream")
CONF
    if lighttpd -f "$state/lighttpd.conf" </dev/null >>"$state/lighttpd.out" 2>&1; then
      for i in $(seq 1 50); do
        if port_answers "$port"; then
          echo "$port" >"$state/port"
          echo "lighttpd: serving $root on 127.0.0.1:$port"
          return 0
        fi
        sleep 0.1
      done
      stop "$state"
    fi
    echo "lighttpd: start on port $port failed (attempt $attempt)" >&2
  done
  tail -n 20 "$state/error.log" "$state/lighttpd.out" >&2 || true
  return 1
}

stop() {
  [ $# -ge 1 ] || usage
  local state=$1
  [ -f "$state/lighttpd.pid" ] && stop_pid "$(cat "$state/lighttpd.pid")" "$state/lighttpd.conf"
  rm -f "$state/lighttpd.pid" "$state/port"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
