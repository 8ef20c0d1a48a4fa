#!/usr/bin/env bash
# qxvolumed beside a sound server that stops answering (SIGSTOP of the private daemon that
# scripts/with-pulse started), on both audio paths: AT+GETVOL is answered within 100 ms the whole
# time, and once the server runs again it ends at the last AT+SETVOL. On the ALSA path, changes
# made by another program are followed. Then beside an X server of its own (Xvfb) that stops
# answering for a while, and one that goes away and comes back: every AT+SETVOL is answered and
# applied meanwhile, and the overlay is shown again once the server is back.
#   with-pulse qxvolumed_stall.sh QXVOLUMED
set -uo pipefail
bin="$1"
[ -n "${QX_PULSE_PIDFILE:-}" ] || { echo "run me under scripts/with-pulse" >&2; exit 2; }
unset DISPLAY
dir="$(mktemp -d)"
daemon=""
server="$(cat "$QX_PULSE_PIDFILE")"
xvfb=""
cleanup() {
  kill -CONT "$server" 2>/dev/null
  [ -n "$xvfb" ] && kill -CONT "$xvfb" 2>/dev/null && kill "$xvfb" 2>/dev/null
  [ -n "$daemon" ] && kill "$daemon" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  cat "$dir/err" >&2 2>/dev/null
  exit 1
}
# shellcheck source=wait_for.sh
source "$(dirname "$0")/wait_for.sh"
volume_is() { [ "$(pactl get-sink-volume @DEFAULT_SINK@ | grep -o '[0-9]*%' | head -n 1)" = "$1%" ]; }
getvol_is() { [ "$(python3 "$here/udp_peer.py" "$port" AT+GETVOL --wait 2)" = $'VOL='"$1"$'\r' ]; }
here="$(cd "$(dirname "$0")" && pwd)"

# Every 300 ms for the stall: AT+SETVOL=N (N counting up from FIRST), then AT+GETVOL, whose
# answer must be VOL=N. Prints the last N and the slowest answer in milliseconds.
drive() {  # PORT SECONDS FIRST
  python3 - "$@" <<'EOF'
import socket, sys, time
port, seconds, n = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
s.settimeout(2.0)
worst, end = 0.0, time.monotonic() + seconds
while time.monotonic() < end:
    n += 1
    s.sendto(b"AT+SETVOL=%d\r\n" % n, ("127.0.0.1", port))
    time.sleep(0.1)  # datagrams close together may be taken as one packet
    t0 = time.monotonic()
    s.sendto(b"AT+GETVOL\r\n", ("127.0.0.1", port))
    try:
        reply = s.recv(100)
    except socket.timeout:
        reply = b"(none)"
    took = (time.monotonic() - t0) * 1000
    worst = max(worst, took)
    if reply != b"VOL=%d\r\n" % n:
        sys.exit("AT+GETVOL after AT+SETVOL=%d answered %r" % (n, reply))
    time.sleep(0.2)
print(n, int(worst))
EOF
}

# (path, seconds stopped): the issue's 10 s once, a shorter stall for the other path.
while read -r path seconds; do
  port="$(free_port)"
  pactl set-sink-volume @DEFAULT_SINK@ 50%
  "$bin" --port "$port" --audio "$path" --no-overlay >/dev/null 2>"$dir/err" &
  daemon=$!
  wait_for "$path: the daemon answers" getvol_is 50

  kill -STOP "$server"
  read -r last worst < <(drive "$port" "$seconds" 50)
  kill -CONT "$server"
  [ -n "${last:-}" ] || fail "$path: AT+GETVOL went unanswered while the server was stopped"
  echo "$path: ${seconds} s stopped, slowest AT+GETVOL ${worst} ms, last AT+SETVOL=$last"
  [ "$worst" -lt 100 ] || fail "$path: AT+GETVOL took $worst ms while the server was stopped"
  wait_for "$path: the server ends at the last AT+SETVOL ($last)" volume_is "$last"

  if [ "$path" = alsa ]; then
    for outside in 77 33; do
      pactl set-sink-volume @DEFAULT_SINK@ "$outside%"
      wait_for "alsa: an outside change to $outside % is followed" getvol_is "$outside"
    done
  fi

  kill -TERM "$daemon"
  wait "$daemon"
  rc=$?
  daemon=""
  [ "$rc" = 0 ] || fail "$path: SIGTERM ends with 0 (got $rc)"
done <<'TABLE'
pulse 10
alsa 3
TABLE
echo "qxvolumed with a stopped sound server: ok"

command -v Xvfb >/dev/null || { echo "Xvfb is not installed: the display's part is skipped"; exit 0; }
start_xvfb() {  # [DISPLAY NUMBER]: sets xvfb and DISPLAY
  rm -f "$dir/dn"
  Xvfb ${1:+":$1"} -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$dir/dn" \
    >/dev/null 2>&1 &
  xvfb=$!
  wait_for "Xvfb tells its display" test -s "$dir/dn"
  export DISPLAY=":$(cat "$dir/dn")"
}
overlay_shown() { xwininfo -name VOLUME 2>/dev/null | grep -q 'IsViewable'; }
# AT+SETVOL=N then AT+GETVOL, N from FIRST for SECONDS: each must be answered VOL=N within
# 5 s (answers to earlier questions are passed over). Prints the last N.
drive_display() {  # PORT SECONDS FIRST
  python3 - "$@" <<'EOF'
import socket, sys, time
port, seconds, n = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
end = time.monotonic() + seconds
while time.monotonic() < end:
    n += 1
    s.sendto(b"AT+SETVOL=%d\r\n" % n, ("127.0.0.1", port))
    time.sleep(0.1)
    s.sendto(b"AT+GETVOL\r\n", ("127.0.0.1", port))
    limit = time.monotonic() + 5
    while True:
        s.settimeout(max(limit - time.monotonic(), 0.01))
        try:
            if s.recv(100) == b"VOL=%d\r\n" % n:
                break
        except socket.timeout:
            sys.exit("AT+GETVOL after AT+SETVOL=%d went unanswered for 5 s" % n)
    time.sleep(0.2)
print(n)
EOF
}
start_xvfb
port="$(free_port)"
"$bin" --port "$port" --display x11 >/dev/null 2>"$dir/err" &
daemon=$!
pactl set-sink-volume @DEFAULT_SINK@ 50%
wait_for "display: the daemon answers" getvol_is 50
python3 "$here/udp_peer.py" "$port" AT+SETVOL=40 >/dev/null
wait_for "display: the overlay is shown" overlay_shown
# What becomes of the X server for 3 s: stopped, then gone and started again on its number.
for how in stopped gone; do
  if [ "$how" = stopped ]; then kill -STOP "$xvfb"; else kill "$xvfb"; wait "$xvfb" 2>/dev/null; fi
  last="$(drive_display "$port" 3 40 2>&1)" || fail "display $how: $last"
  if [ "$how" = stopped ]; then kill -CONT "$xvfb"; else start_xvfb "${DISPLAY#:}"; fi
  wait_for "display $how: the volume ends at the last AT+SETVOL ($last)" volume_is "$last"
  python3 "$here/udp_peer.py" "$port" AT+SETVOL=40 >/dev/null
  wait_for "display $how: the overlay is shown again" overlay_shown
  echo "display $how for 3 s: every command answered, the overlay shown again"
done
kill -TERM "$daemon"
wait "$daemon" || fail "display: SIGTERM ends with 0"
daemon=""
echo "qxvolumed with a stalled or restarted X server: ok"
