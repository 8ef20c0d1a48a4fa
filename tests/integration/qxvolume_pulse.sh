#!/usr/bin/env bash
# qxvolume as a user runs it, against the private sound server that scripts/with-pulse started:
# set and get seen by pactl both ways, steps, mute both ways, follow seeing pactl's changes and
# stopping cleanly on SIGINT, the legacy path through ALSA, the overlay's frames, and the errors.
set -euo pipefail
bin="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"; kill %1 2>/dev/null || true' EXIT

sink_volume() { pactl get-sink-volume @DEFAULT_SINK@ | grep -o '[0-9]*%' | head -n 1; }
sink_mute() { pactl get-sink-mute @DEFAULT_SINK@ | awk '{print $2}'; }
check() {  # what, expected, actual
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected '$2', got '$3'" >&2; exit 1; fi
}
# Waits (up to 10 s) until the file has a line matching the pattern.
await() {
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  echo "FAIL: no line matching $2 in $1:" >&2; cat "$1" >&2; exit 1
}

"$bin" set 40 >/dev/null
check "pactl after set 40" 40% "$(sink_volume)"
pactl set-sink-volume @DEFAULT_SINK@ 63%
check "get after pactl 63%" 63 "$("$bin" get)"
"$bin" set 40 >/dev/null
check "up" '{"event":"audio","volume":42,"mute":false}' "$("$bin" --json up)"
check "pactl after up" 42% "$(sink_volume)"
"$bin" down >/dev/null
check "pactl after down" 40% "$(sink_volume)"

"$bin" mute on >/dev/null
check "pactl after mute on" yes "$(sink_mute)"
"$bin" mute toggle >/dev/null
check "pactl after toggle" no "$(sink_mute)"
pactl set-sink-mute @DEFAULT_SINK@ 1
check "get --mute after pactl mute" "40 muted" "$("$bin" get --mute)"
"$bin" mute off >/dev/null
check "get --mute unmuted" "40" "$("$bin" get --mute)"
# Steps of N percent, clamped at the ends: (command, the volume after, from 40 %).
while read -r verb n vol; do
  "$bin" set 40 >/dev/null
  "$bin" "$verb" "$n" >/dev/null
  check "$verb $n from 40" "$vol%" "$(sink_volume)"
done <<'TABLE'
up 5 45
down 15 25
up 100 100
down 70 0
TABLE
"$bin" set 40 >/dev/null

# follow: the state first, then every outside change, until SIGINT (exit 0).
"$bin" follow --json >"$dir/follow" &
await "$dir/follow" '"volume":40,"mute":false'
pactl set-sink-volume @DEFAULT_SINK@ 55%
await "$dir/follow" '"volume":55,"mute":false'
pactl set-sink-mute @DEFAULT_SINK@ 1
await "$dir/follow" '"volume":55,"mute":true'
kill -INT %1
wait %1
pactl set-sink-mute @DEFAULT_SINK@ 0

# The legacy path: the ALSA mixer, whose default goes through the same server.
"$bin" --audio alsa set 25 >/dev/null
check "pactl after alsa set 25" 25% "$(sink_volume)"
pactl set-sink-volume @DEFAULT_SINK@ 70%
check "alsa get after pactl 70%" 70 "$("$bin" --audio alsa get)"
"$bin" --audio alsa follow >"$dir/follow-alsa" &
await "$dir/follow-alsa" 'audio: volume 70'
pactl set-sink-volume @DEFAULT_SINK@ 33%
await "$dir/follow-alsa" 'audio: volume 33'
kill -TERM %1
wait %1

# The overlay without a display: every frame it showed, as PNG.
"$bin" set 60 --overlay --snapshot "$dir/frames" >/dev/null
ls "$dir/frames"/frame-*.png >/dev/null

# Bad arguments: usage and 2. No sound server: one line and 1.
set +e
"$bin" set 101 2>"$dir/err"; check "set 101 exit" 2 $?
grep -q "^Try 'qxvolume --help'" "$dir/err"
"$QX_PULSE_STOP"
"$bin" --audio pulse get 2>"$dir/err"; check "no server exit" 1 $?
check "no server message lines" 1 "$(wc -l <"$dir/err")"
"$QX_PULSE_START"
echo "qxvolume against the private sound server: ok"
