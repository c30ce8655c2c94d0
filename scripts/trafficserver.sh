#!/usr/bin/env bash
# A private Apache Traffic Server on 127.0.0.1 as a reverse proxy in front of
# the tests' nginx, with the package's own settings but for its port, a small
# cache, a log of its own, and range requests passed to the origin (it answers
# several spans of a cached object with all of it). Its run root, configuration, cache and logs all
# stay in the state folder; the system's service and /etc are never used.
#
#   trafficserver.sh start <backend-port-file> <state-dir>
#   trafficserver.sh stop <state-dir>
#
# start writes the chosen port to <state-dir>/port. <state-dir>/access.log has
# one line per answer to a client: request line, status, bytes sent (headers
# included) and the Range header ("-" without one), tab-separated, written
# within about a second.
set -euo pipefail
. "$(dirname "$0")/loopback.sh"

usage() {
  echo "usage: $0 start <backend-port-file> <state-dir> | stop <state-dir>" >&2
  exit 2
}

configure() {  # <state> <port> <backend>
  local state=$1 port=$2 backend=$3
  rm -rf "$state/etc" "$state/cache" "$state/run" "$state/log"
  mkdir -p "$state/etc" "$state/cache" "$state/run" "$state/log"
  cp -r /etc/trafficserver/. "$state/etc/"
  cat >"$state/runroot.yaml" <<YAML
prefix: /usr
exec_prefix: /usr
bindir: /usr/bin
sbindir: /usr/sbin
sysconfdir: $state/etc
datadir: $state/cache
includedir: /usr/include
libdir: /usr/lib/trafficserver
libexecdir: /usr/lib/trafficserver/modules
localstatedir: $state
runtimedir: $state/run
logdir: $state/log
cachedir: $state/cache
YAML
  sed -i "s|^CONFIG proxy.config.http.server_ports .*|CONFIG proxy.config.http.server_ports STRING $port|
s|^CONFIG proxy.config.admin.user_id .*|CONFIG proxy.config.admin.user_id STRING #-1|
s|^CONFIG proxy.config.log.periodic_tasks_interval .*|CONFIG proxy.config.log.periodic_tasks_interval INT 1|" "$state/etc/records.config"
  cat >>"$state/etc/records.config" <<RECORDS
CONFIG proxy.config.log.max_secs_per_buffer INT 1
CONFIG proxy.config.http.cache.range.lookup INT 0
RECORDS
  echo "$state/cache 64M" >"$state/etc/storage.config"
  echo "map / http://127.0.0.1:$backend/" >"$state/etc/remap.config"
  cat >"$state/etc/logging.yaml" <<'YAML'
logging:
  formats:
    - name: tests
      format: '%<cqtx>	%<pssc>	%<psql>	%<{Range}cqh>'
  logs:
    - filename: access
      format: tests
      mode: ascii
YAML
  ln -sf log/access.log "$state/access.log"
}

start() {
  [ $# -ge 2 ] || usage
  local backend state
  backend=$(cat "$1")
  mkdir -p "$2"
  state=$(cd "$2" && pwd)
  stop "$state"
  launch() {
    configure "$state" "$1" "$backend"
    : >"$state/log/access.log"
    (cd "$state" && exec traffic_server --run-root="$state/runroot.yaml" </dev/null >>"$state/ts.out" 2>&1) &
    echo $! >"$state/ts.pid"
  }
  halt() { stop "$state"; }
  if start_on_free_port "$state" launch halt; then
    echo "trafficserver: caching 127.0.0.1:$backend on 127.0.0.1:$(cat "$state/port")"
    return 0
  fi
  tail -n 20 "$state/ts.out" "$state/log/diags.log" >&2 || true
  return 1
}

stop() {
  [ $# -ge 1 ] || usage
  local state=$1
  [ -f "$state/ts.pid" ] && stop_pid "$(cat "$state/ts.pid")" "$state/runroot.yaml"
  rm -f "$state/ts.pid" "$state/port"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
