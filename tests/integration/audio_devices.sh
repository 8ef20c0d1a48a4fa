#!/usr/bin/env bash
# Choosing the device, against the private sound server of scripts/with-pulse with two null sinks
# (qx_null, the default, and qx_speakers) and a null source (qx_mic): the programs list them, a
# chosen sink is steered while the default stays untouched, the microphone is muted by AT+MUTE,
# a chosen sink that goes away is reported once and bound again when it comes back, a change of
# the default does not move a daemon bound to a name, and on the ALSA path a chosen control
# (the sound server plugin's "Capture") is steered.
#   with-pulse audio_devices.sh QXVOLUME QXVOLUMED QXDESIGN
set -uo pipefail
qxvolume="$1"
qxvolumed="$2"
qxdesign="$3"
here="$(cd "$(dirname "$0")" && pwd)"
[ -n "${PULSE_SERVER:-}" ] || { echo "run me under scripts/with-pulse" >&2; exit 2; }
unset DISPLAY WAYLAND_DISPLAY
dir="$(mktemp -d)"
daemon=""
cleanup() {
  [ -n "$daemon" ] && kill "$daemon" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$dir/out" "$dir/err" >&2 2>/dev/null
  exit 1
}
# shellcheck source=wait_for.sh
source "$here/wait_for.sh"
sink_volume() { pactl get-sink-volume "$1" | grep -o '[0-9]*%' | head -n 1 | tr -d %; }
source_volume() { pactl get-source-volume "$1" | grep -o '[0-9]*%' | head -n 1 | tr -d %; }
source_mute() { pactl get-source-mute "$1"; }
is() { [ "$("$1" "$2")" = "$3" ]; }
out_has() { grep -qF -- "$1" "$dir/out"; }
count() { grep -cF -- "$1" "$dir/out"; }
send() { "$here/udp_peer.py" "$port" "$@"; }
# start_daemon ARGS...: a daemon on a fresh port, its JSON events in $dir/out.
start_daemon() {
  port="$(free_port)"
  "$qxvolumed" --port "$port" --json --no-overlay "$@" >"$dir/out" 2>"$dir/err" &
  daemon=$!
  wait_for "the daemon listens" out_has '"event":"status","active":true'
}
stop_daemon() {
  kill "$daemon"
  wait "$daemon" || fail "the daemon exits 0 on SIGTERM"
  daemon=""
}

speakers_module="$(pactl load-module module-null-sink sink_name=qx_speakers sink_properties=device.description=Speakers)"
pactl load-module module-null-source source_name=qx_mic >/dev/null || fail "module-null-source"
pactl set-default-source qx_mic
pactl set-sink-volume qx_null 50%
pactl set-sink-volume qx_speakers 50%

# Listing: (arguments, a line the output has).
while IFS='|' read -r args line; do
  # shellcheck disable=SC2086
  "$qxvolume" devices $args >"$dir/list" || fail "qxvolume devices $args"
  grep -qF -- "$line" "$dir/list" || fail "qxvolume devices $args lacks $line: $(cat "$dir/list")"
done <<'EOF2'
|* sink    qx_null  50%
|  sink    qx_speakers  50%         Speakers
|* source  qx_mic
--json|{"name":"qx_speakers","description":"Speakers","kind":"sink","default":false,"volume":50,"mute":false}
--json|"name":"qx_null.monitor","description":"Monitor of QxNull","kind":"monitor"
--audio alsa|default/Master
--audio alsa|default/Capture  capture
EOF2

# qxvolume on a chosen device: (arguments, device checked, expected volume); the default sink
# stays at 50 throughout.
while IFS='|' read -r args probe device expected; do
  # shellcheck disable=SC2086
  "$qxvolume" $args >/dev/null || fail "qxvolume $args"
  wait_for "qxvolume $args gives $device $expected %" is "$probe" "$device" "$expected"
  [ "$(sink_volume qx_null)" = 50 ] || fail "qxvolume $args moved the default sink"
done <<'EOF2'
--device=qx_speakers set 30|sink_volume|qx_speakers|30
--device=qx_mic set 40|source_volume|qx_mic|40
--device=@DEFAULT_SOURCE@ set 45|source_volume|qx_mic|45
--audio=alsa --device=default/Capture set 35|source_volume|qx_mic|35
EOF2
# follow --device reports that device's changes, not the default's.
"$qxvolume" follow --device qx_speakers --json >"$dir/out" 2>&1 &
follower=$!
wait_for "follow names its device" out_has '{"event":"device","device":"qx_speakers","present":true,"capture":false}'
pactl set-sink-volume qx_null 51%
pactl set-sink-volume qx_speakers 44%
wait_for "follow reports the device's change" out_has '{"event":"audio","volume":44,"mute":false}'
kill "$follower"
wait "$follower"
out_has '"volume":51' && fail "follow --device reported the default sink"
pactl set-sink-volume qx_null 50%

# Names that are not there: exit 1 with the reason.
for args in "--device=qx_nothing get" "--audio=alsa --device=hw:99/PCM get"; do
  # shellcheck disable=SC2086
  "$qxvolume" $args 2>"$dir/err" && fail "qxvolume $args succeeds"
  grep -qF "no device" "$dir/err" || fail "qxvolume $args: $(cat "$dir/err")"
done

# The daemon on the microphone: its first lines name it, AT+MUTE mutes the source only.
start_daemon --device qx_mic
head -n 2 "$dir/out" | grep -qF '{"event":"device","device":"qx_mic","present":true,"capture":true}' ||
  fail "the first lines name the device"
out_has '"port":'"$port"',"device":"qx_mic"}' || fail "the status event carries the device"
send AT+MUTE
wait_for "AT+MUTE mutes the microphone" is source_mute qx_mic "Mute: yes"
[ "$(pactl get-sink-mute qx_null)" = "Mute: no" ] || fail "AT+MUTE muted the default sink"
stop_daemon

# The daemon on a named sink, the default when it starts: the default moves away and the daemon
# stays; unloaded, one event and no write; loaded again, bound and its level reported.
pactl set-default-sink qx_speakers
start_daemon --device qx_speakers
pactl set-default-sink qx_null
send AT+SETVOL=28
wait_for "AT+SETVOL=28 sets qx_speakers after the default moved" is sink_volume qx_speakers 28
[ "$(sink_volume qx_null)" = 50 ] || fail "the default sink moved"
pactl unload-module "$speakers_module"
wait_for "the sink's going is told" out_has '{"event":"device","device":"qx_speakers","present":false,"capture":false}'
audio_before="$(count '"event":"audio"')"
send AT+SETVOL=90
send AT+VOLUP
send AT+MUTE
sleep 0.5
kill -0 "$daemon" || fail "the daemon survives the sink's going"
[ "$(count '"event":"audio"')" = "$audio_before" ] || fail "no level is reported while the sink is gone"
[ "$(sink_volume qx_null)" = 50 ] || fail "a command went to the default sink"
[ "$(pactl get-sink-mute qx_null)" = "Mute: no" ] || fail "AT+MUTE went to the default sink"
speakers_module="$(pactl load-module module-null-sink sink_name=qx_speakers)"
pactl set-sink-volume qx_speakers 60%
wait_for "the sink's coming back is told" out_has '{"event":"device","device":"qx_speakers","present":true,"capture":false}'
wait_for "its level is reported" out_has '{"event":"audio","volume":60,"mute":false}'
[ "$(count '"present":false')" = 1 ] || fail "one event for the going"
send AT+SETVOL=33
wait_for "bound again: AT+SETVOL=33 sets qx_speakers" is sink_volume qx_speakers 33
stop_daemon

# The designer offers the devices present now.
cat >"$dir/form.qxf" <<'EOF2'
object Form1: TForm
  object Volume: TQxMasterVol
  end
end
EOF2
"$qxdesign" values "$dir/form.qxf" Volume AudioDevice >"$dir/values" 2>&1 || fail "qxdesign values: $(cat "$dir/values")"
for want in @DEFAULT_SOURCE@ qx_null qx_speakers qx_mic; do
  grep -qF -- "$want" "$dir/values" || fail "the designer's list lacks $want: $(cat "$dir/values")"
done
grep -qF "qx_null.monitor" "$dir/values" && fail "the designer offers a monitor"
echo "audio devices: ok"
