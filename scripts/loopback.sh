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
