#!/usr/bin/env bash
# qxvolumed as a new user drives it, against the private sound server of scripts/with-pulse:
# datagrams over 127.0.0.1 set, step, mute and query the volume, checked with pactl; a peer that
# is not the configured one and hostile datagrams change nothing; the daemon outlives a restart of
# the sound server, refuses a second bind and a malformed form, and stops cleanly on SIGINT.
#   with-pulse qxvolumed_e2e.sh QXVOLUMED QXUDP
set -uo pipefail
bin="$1"
qxudp="$2"
here="$(cd "$(dirname "$0")" && pwd)"
peer="$here/udp_peer.py"
[ -n "${PULSE_SERVER:-}" ] || { echo "run me under scripts/with-pulse" >&2; exit 2; }
# Nothing here may reach the display of the machine the test runs on.
unset DISPLAY
dir="$(mktemp -d)"
daemon=""
cleanup() {
  [ -n "$daemon" ] && kill "$daemon" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- daemon output:" >&2
  cat "$dir/out" >&2 2>/dev/null
  cat "$dir/err" >&2 2>/dev/null
  exit 1
}
# shellcheck source=wait_for.sh
source "$(dirname "$0")/wait_for.sh"
volume() { pactl get-sink-volume @DEFAULT_SINK@ | grep -o '[0-9]*%' | head -n 1 | tr -d %; }
mute() { pactl get-sink-mute @DEFAULT_SINK@ | awk '{print $2}'; }
volume_is() { [ "$(volume)" = "$1" ]; }
mute_is() { [ "$(mute)" = "$1" ]; }
out_has() { grep -qF -- "$1" "$dir/out"; }
send() { "$peer" "$port" "$@"; }

port="$(free_port)"
pactl set-sink-volume @DEFAULT_SINK@ 20%
pactl set-sink-mute @DEFAULT_SINK@ 0

"$bin" --port "$port" --json --no-overlay --snapshot "$dir/frames" >"$dir/out" 2>"$dir/err" &
daemon=$!
wait_for "the daemon reports its socket active" out_has '{"event":"status","active":true,"error":0,"desc":"","ip":"127.0.0.1","port":'"$port"'}'

# The two commands of the README, with the project's own UDP tool.
"$qxudp" send 127.0.0.1 "$port" AT+SETVOL=40 --line-end-tx CRLF >/dev/null
wait_for "AT+SETVOL=40 sets 40 %" volume_is 40
wait_for "the change is printed" out_has '{"event":"audio","volume":40,"mute":false}'
# Once: the system's confirmation of the daemon's own change is not a second change.
sleep 0.3
[ "$(grep -c '"event":"audio","volume":40,' "$dir/out")" = 1 ] || fail "one event per change"
"$qxudp" send 127.0.0.1 "$port" AT+GETVOL --line-end-tx CRLF --json >"$dir/reply"
grep -qF '"text":"VOL=40\r\n"' "$dir/reply" || fail "AT+GETVOL answers VOL=40: $(cat "$dir/reply")"

# Commands and their effect on the sound server: (datagram, expected volume, expected mute).
while read -r cmd vol mt; do
  send "$cmd"
  wait_for "$cmd gives $vol % mute $mt" volume_is "$vol"
  wait_for "$cmd gives mute $mt" mute_is "$mt"
done <<'TABLE'
AT+SETVOL=150 100 no
AT+SETVOL=30 30 no
AT+VOLUP 32 no
AT+VOLUP 34 no
AT+VOLDOWN 32 no
AT+VOLDOWN 30 no
AT+MUTE 30 yes
AT+MUTE_anything 30 no
TABLE
[ "$(send AT+GETVOL --wait 5)" = $'VOL=30\r' ] || fail "AT+GETVOL after steps answers VOL=30"
send AT+MUTE
wait_for "AT+MUTE mutes" mute_is yes
[ "$(send AT+GETMUTE --wait 5)" = $'MUTE=1\r' ] || fail "AT+GETMUTE answers MUTE=1"
send AT+MUTE
wait_for "AT+MUTE unmutes" mute_is no
[ "$(send AT+GETMUTE --wait 5)" = $'MUTE=0\r' ] || fail "AT+GETMUTE answers MUTE=0"

# Changes by other programs show too.
pactl set-sink-volume @DEFAULT_SINK@ 55%
wait_for "an outside change is printed" out_has '{"event":"audio","volume":55,"mute":false}'

# Nothing of these may act: bad arguments, lower case, garbage, an oversized datagram, and
# commands and queries from another peer. A marker command afterwards shows they were read.
for cmd in AT+SETVOL=-5 AT+SETVOL= 'AT+SETVOL=40 ' at+setvol=40 at+mute AT+SETVOLUME; do send "$cmd"; done
send x --raw-hex "00ff0d0a41542b5345545624"
python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.sendto(b"A"*65000, ("127.0.0.1", int(sys.argv[1])))' "$port"
[ -z "$(send AT+GETVOL --from 127.0.0.2 --wait 1)" ] || fail "another peer gets an answer"
send AT+SETVOL=10 --from 127.0.0.2 --repeat 50
send AT+SETVOL=56
wait_for "the marker command acts" volume_is 56
mute_is no || fail "nothing above muted"
wait_for "the other peer's packets are summed up" out_has '{"event":"ignored","peer":"127.0.0.2",'

# Commands that come close together are all obeyed: (how they are sent, the volume after, from
# 50 %). In one datagram, as datagrams 1 ms apart (joined by the receive window), with a query.
lines() { printf 'AT+VOLUP\r\n%.0s' 1 2 3 4 5 | od -An -tx1 | tr -d ' \n'; }
while read -r how vol; do
  send AT+SETVOL=50
  wait_for "back to 50 %" volume_is 50
  case "$how" in
    one-datagram) send x --raw-hex "$(lines)" ;;
    1ms-apart) for _ in 1 2 3 4 5; do send AT+VOLUP; sleep 0.001; done ;;
    set-and-get) [ "$(send x --raw-hex "$(printf 'AT+SETVOL=20\r\nAT+GETVOL\r\n' | od -An -tx1 | tr -d ' \n')" --wait 5)" = $'VOL=20\r' ] ||
      fail "SETVOL then GETVOL in one datagram answers VOL=20" ;;
  esac
  wait_for "$how gives $vol %" volume_is "$vol"
done <<'TABLE'
one-datagram 60
1ms-apart 60
set-and-get 20
TABLE

# Remotes as they send, against the built-in form: each datagram whole, its lines ending in
# CR LF, LF or nothing; each answer ends as its question did. (datagram as printf reads it |
# the volume after | the reply in hexadecimal, "-" for none)
hex() { printf "$1" | od -An -tx1 | tr -d ' \n'; }
send AT+SETVOL=50
wait_for "back to 50 %" volume_is 50
while IFS='|' read -r datagram vol reply; do
  got="$(send x --raw-hex "$(hex "$datagram")" --hex-reply --wait "$([ "$reply" = - ] && echo 0 || echo 5)")"
  [ "$reply" = - ] || [ "$got" = "$(hex "$reply")" ] || fail "'$datagram' is answered '$reply' (got $got)"
  wait_for "'$datagram' leaves $vol %" volume_is "$vol"
done <<'TABLE'
AT+SETVOL=45|45|-
AT+SETVOL=46\r\n|46|-
AT+SETVOL=47\n|47|-
AT+SETVOL=48\r\nAT+VOLUP\nAT+VOLUP|52|-
AT+GETVOL|52|VOL=52
AT+GETVOL\r\n|52|VOL=52\r\n
AT+GETVOL\n|52|VOL=52\n
AT+GETVOL\nAT+GETMUTE\n|52|VOL=52\nMUTE=0\n
AT+SETVOL=53\r\nAT+GETVOL\r\nAT+GETMUTE|53|VOL=53\r\nMUTE=0
AT+SETVOL=54\r\nAT+SETV|54|-
TABLE

# The sound server restarts: the daemon carries on and drives the new one.
"$QX_PULSE_STOP"
"$QX_PULSE_START" || fail "the private sound server restarts"
kill -0 "$daemon" 2>/dev/null || fail "the daemon outlives the sound server"
sleep_until_set() { send AT+SETVOL=44; volume_is 44; }
wait_for "the daemon drives the restarted server" sleep_until_set

# A second daemon on the same port: one line on standard error, exit 1.
"$bin" --port "$port" --json --no-overlay >"$dir/second" 2>"$dir/second.err"
rc=$?
[ "$rc" = 1 ] || fail "a failed bind exits 1 (got $rc)"
[ "$(cat "$dir/second.err")" = "qxvolumed: cannot listen on 127.0.0.1:$port: address already in use (another qxvolumed? try --port)" ] ||
  fail "the bind failure is one line: $(cat "$dir/second.err")"
grep -q '"error":' "$dir/second" && fail "the bind failure is not a status event: $(cat "$dir/second")"

# --line-end CRLF joins a line split over datagrams; one whose end never comes is reported as
# ignored, naming its sender and why.
port2="$(free_port)"
"$bin" --port "$port2" --line-end CRLF --json --no-overlay --snapshot "$dir/few" --snapshot-keep 2 \
  >"$dir/lines" 2>&1 &
lined=$!
for _ in $(seq 100); do grep -q '"active":true' "$dir/lines" && break; sleep 0.05; done
# Two datagrams from one socket: one sender.
python3 -c 'import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
for piece in sys.argv[2:]: s.sendto(piece.encode(), ("127.0.0.1", int(sys.argv[1])))' \
  "$port2" 'AT+SETVOL=4' $'1\r\n'
wait_for "a line split over two datagrams sets 41 %" volume_is 41
"$peer" "$port2" x --raw-hex "$(hex 'AT+SETVOL=9')"
lines_has() { grep -qF -- "$1" "$dir/lines"; }
wait_for "the unfinished line is reported" lines_has '"event":"ignored","peer":"127.0.0.1","port":'
lines_has '"lines":1,"bytes":11,"reason":"no line end within 5 s"}' || fail "the report: $(grep ignored "$dir/lines")"
volume_is 41 || fail "the unfinished line changed the volume"
kill "$lined"
wait "$lined"
# Only the last frames stay: the folder does not grow with every change.
[ "$(ls "$dir/few" | wc -l)" = 2 ] || fail "--snapshot-keep 2 keeps 2 frames: $(ls "$dir/few")"

# SIGINT: the final status event, exit 0.
kill -INT "$daemon"
wait "$daemon"
rc=$?
daemon=""
[ "$rc" = 0 ] || fail "SIGINT ends with 0 (got $rc)"
grep '"event":"status"' "$dir/out" | tail -n 1 | grep -qxF '{"event":"status","active":false,"error":0,"desc":""}' || fail "the final status event"
ls "$dir/frames"/overlay-00001.png >/dev/null 2>&1 || fail "overlay frames are written"

# Form files: the effective form round-trips (but for the volume and the host's MAC address, read
# afresh); a malformed one is refused with its position.
"$bin" --port 2900 --remote-ip 127.0.0.9 --print-form >"$dir/form.qxf" || fail "--print-form"
grep -q "UdpRemoteIP = '127.0.0.9'" "$dir/form.qxf" || fail "--print-form shows the override"
"$bin" --form "$dir/form.qxf" --print-form >"$dir/again.qxf" || fail "--form reads a printed form"
diff -u <(grep -Ev 'Volume = |pcMAC' "$dir/form.qxf") <(grep -Ev 'Volume = |pcMAC' "$dir/again.qxf") || fail "the printed form round-trips"
printf "object VolumeRemote: TVolumeRemote\n  object Udp: TQxUDPS\n    UDPRxPort = \n" >"$dir/bad.qxf"
"$bin" --form "$dir/bad.qxf" 2>"$dir/bad.err"
rc=$?
[ "$rc" = 2 ] || fail "a malformed form exits 2 (got $rc)"
grep -q "bad.qxf:[0-9]*:[0-9]*:" "$dir/bad.err" || fail "the error names file, line and column: $(cat "$dir/bad.err")"

echo "qxvolumed end to end: ok"
