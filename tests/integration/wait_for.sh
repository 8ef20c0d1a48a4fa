# Sourced by the daemon's integration scripts: polling a condition, and a free loopback port.
# The script defines fail MESSAGE (report and exit) before it sources this.

# wait_for DESCRIPTION COMMAND...: polls the condition for up to 15 s, else fails.
wait_for() {
  local what="$1"
  shift
  for _ in $(seq 1 300); do
    "$@" && return 0
    sleep 0.05
  done
  fail "$what"
}
free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
