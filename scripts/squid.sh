#!/usr/bin/env bash
# A private squid on 127.0.0.1: a proxy that forwards without caching, for the
# tests that run through the system's proxy, or a cache in front of the tests'
# nginx, as an operator puts one before the origin. Everything it writes stays
# in the state folder; the system's squid configuration and service are never used.
#
#   squid.sh start <state-dir> [auth]   (auth: every request must bring
#                                        credentials, and none are valid)
#   squid.sh start <state-dir> cache <origin-port-file>
#   squid.sh stop <state-dir>
#
# start writes the chosen port to <state-dir>/port. <state-dir>/access.log has
# one line per request: method, URL, squid's result code/HTTP status, bytes;
# a cache's: request line, status, reply bytes (headers included) and the
# Range header, tab-separated.
set -euo pipefail

usage() {
  echo "usage: $0 start <state-dir> [auth | cache <origin-port-file>] | stop <state-dir>" >&2
  exit 2
}

# free_port, port_answers
. "$(dirname "$0")/loopback.sh"

write_config() {
  local state=$1 port=$2 auth=$3 origin=${4:-} access listen="http_port 127.0.0.1:$2" caching="cache deny all" mem="8 MB"
  local format='%rm %ru %Ss/%>Hs %<st "%{User-Agent}>h"'
  if [ "$auth" = cache ]; then
    # A reverse proxy: every request goes to the origin, answers are kept in memory.
    listen="http_port 127.0.0.1:$port accel defaultsite=127.0.0.1:$origin no-vhost
cache_peer 127.0.0.1 parent $origin 0 no-query no-digest originserver name=origin
cache_peer_access origin allow all
maximum_object_size_in_memory 80 MB
maximum_object_size 80 MB"
    # A request for several spans goes to the origin: squid answers one for a
    # cached object with all of it.
    caching="acl multirange req_header Range ,
cache deny multirange
cache allow all" mem="96 MB"
    format='%rm %ru HTTP/%rv	%>Hs	%<st	%{Range}>h'
    access="http_access allow all"
  elif [ "$auth" = auth ]; then
    # An empty password file: the proxy asks, and no answer satisfies it.
    : >"$state/passwd"
    access="auth_param basic program /usr/lib/squid/basic_ncsa_auth $state/passwd
auth_param basic realm tests
acl authed proxy_auth REQUIRED
http_access allow authed"
  else
    access="http_access allow all"
  fi
  cat >"$state/squid.conf" <<EOF
$listen
pid_filename $state/squid.pid
logformat tests $format
access_log stdio:$state/access.log tests
cache_log $state/cache.log
cache_store_log none
$caching
cache_mem $mem
coredump_dir $state
netdb_filename none
pinger_enable off
dns_v4_first on
shutdown_lifetime 0 seconds
$access
http_access deny all
EOF
}

start() {
  [ $# -ge 1 ] || usage
  local state auth=${2:-} origin=""
  [ "$auth" != cache ] || origin=$(cat "$3")
  mkdir -p "$1"
  state=$(cd "$1" && pwd)
  [ -f "$state/squid.pid" ] && stop "$state"
  rm -f "$state/port"
  # Started as root, squid works as its own user: it must write here.
  chmod 777 "$state"
  : >"$state/access.log"
  : >"$state/cache.log"
  chmod 666 "$state/access.log" "$state/cache.log"
  local attempt port i
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    write_config "$state" "$port" "$auth" "$origin"
    if squid -f "$state/squid.conf" </dev/null >>"$state/squid.out" 2>&1; then
      for i in $(seq 1 100); do
        if port_answers "$port"; then
          echo "$port" >"$state/port"
          case "$auth" in
            cache) echo "squid: caching 127.0.0.1:$origin on 127.0.0.1:$port" ;;
            *) echo "squid: proxy${auth:+ asking for credentials} on 127.0.0.1:$port" ;;
          esac
          return 0
        fi
        sleep 0.1
      done
      echo "squid: port $port did not answer within 10 s" >&2
      stop "$state"
      return 1
    fi
    echo "squid: start on port $port failed (attempt $attempt)" >&2
  done
  tail -n 20 "$state/cache.log" "$state/squid.out" >&2 || true
  return 1
}

stop() {
  [ $# -ge 1 ] || usage
  local state=$1 pid i
  [ -f "$state/squid.pid" ] || return 0
  pid=$(cat "$state/squid.pid")
  # A stale pid file may name some other process by now: only ours is signalled.
  if [ -n "$pid" ] && [ -d "/proc/$pid" ]; then
    squid -f "$state/squid.conf" -k shutdown >/dev/null 2>&1 || true
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q squid; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$state/squid.pid" "$state/port"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) usage ;;
esac
