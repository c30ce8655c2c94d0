# Shared by the scripts that start private servers for the tests: free
# loopback ports, whether one answers, and stopping only our own processes.

# Asks the kernel for a free loopback port. Another process may take it before
# the server binds; the caller then tries again with a new one.
free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

# True when something accepts connections on 127.0.0.1:$1.
port_answers() {
  python3 -c 'import socket, sys
try:
    socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.5).close()
except OSError:
    sys.exit(1)' "$1"
}

# Ends process $1 if its command line names $2 (a stale pid file may name some
# other process by now): TERM, then KILL after 3 s.
stop_pid() {
  local pid=$1 mark=$2 i
  [ -n "$pid" ] || return 0
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$mark" || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 1 30); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# Starts a server on a free port, five tries: "$2 <port>" starts it (false
# when it can't), and it must answer within 10 s, else "$3" ends it. Writes
# the port to $1/port.
start_on_free_port() {
  local state=$1 launch=$2 halt=$3 attempt port i
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    if "$launch" "$port"; then
      for i in $(seq 1 100); do
        if port_answers "$port"; then
          echo "$port" >"$state/port"
          return 0
        fi
        sleep 0.1
      done
    fi
    "$halt"
    echo "$(basename "$0" .sh): start on port $port failed (attempt $attempt)" >&2
  done
  return 1
}
