#!/usr/bin/env bash
# qxdesign as a user runs it, beside the private sound server that scripts/with-pulse started
# (the volume component opens the endpoint in the designer too): the palette and bitmaps, a new
# form with both components and a track bar, linked, ports set, saved and read back, the
# inspector and value lists, typed and reverted values, the errors, and a system volume that
# no design step changed.
set -euo pipefail
bin="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

check() {  # what, expected, actual
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected '$2', got '$3'" >&2; exit 1; fi
}
has() {  # what, file, fixed text
  grep -qF -- "$3" "$2" || { echo "FAIL: $1: no '$3' in $2:" >&2; cat "$2" >&2; exit 1; }
}
refused() {  # what, expected stderr text, command...
  local what="$1" text="$2"
  shift 2
  set +e
  "$@" >/dev/null 2>err
  local rc=$?
  set -e
  check "$what: exit status" 2 "$rc"
  # One line, and for a bad command line the hint to --help after it.
  grep -v "^Try 'qxdesign --help'" err >err.first || true
  check "$what: one line" 1 "$(wc -l <err.first)"
  has "$what" err "$text"
}
sink_volume() { pactl get-sink-volume @DEFAULT_SINK@ | grep -o '[0-9]*%' | head -n 1; }
pactl set-sink-volume @DEFAULT_SINK@ 37%

check "palette" "Velmor: TQxUDPS TQxMasterVol" "$("$bin" palette)"
lib="$(dirname "$bin")/../lib/libqx-udps-design.so"
check "a package named twice" "Velmor: TQxUDPS TQxMasterVol" "$("$bin" --package "$lib" palette)"
has_line() { grep -qxF -- "$2" <<<"$3" || { echo "FAIL: $1: no line '$2' in: $3" >&2; exit 1; }; }
pkg="$("$bin" package "$lib")"
has_line "package" "file version: 1.0.0.0" "$pkg"
has_line "package" "product name: TQxUDPS" "$pkg"
has_line "package" "requires: framework, design, net, TQxUDPS" "$pkg"
has_line "package" "design-only: yes" "$pkg"
for class in TQxUDPS TQxMasterVol; do
  "$bin" bitmap "$class" -o "$class.bmp"
  check "$class.bmp size" 1782 "$(stat -c %s "$class.bmp")"
done

"$bin" new remote.qxf --name Remote
"$bin" add remote.qxf TQxUDPS Udp
"$bin" add remote.qxf TQxMasterVol Volume
"$bin" add remote.qxf TTrackBar Bar
"$bin" set remote.qxf Volume.QxUDPS=Udp Volume.VolumeTrackBar=Bar Volume.UdpRxPort=2900 \
  Volume.UdpTxPort=2901 Volume.Volume=80 Udp.UDPActive=True Udp.UDPLineEndRx=CRLF Udp.UDPLineEndTx=LF
has "form" remote.qxf "object Remote: TForm"
has "linked" remote.qxf "QxUDPS = Udp"
has "ports through the link" remote.qxf "UDPRxPort = '2900'"
has "ports through the link" remote.qxf "UDPTxPort = '2901'"
has "track bar's fixed values" remote.qxf "Max = 100"
if grep -q "UDPActive" remote.qxf; then echo "FAIL: UDPActive saved as active" >&2; exit 1; fi
ls | grep -q tmp && { echo "FAIL: a temporary file was left" >&2; exit 1; }

# Read back: the inspector.
"$bin" inspect remote.qxf Udp >inspect
has "inspect" inspect "UDPActive = False  [paValueList, paMultiSelect, paSortList, paRevertable]"
has "inspect" inspect \
  "UDPLineEndRx = CRLF  [paValueList, paMultiSelect, paSortList, paRevertable]  values: CR, CRLF"
has "inspect" inspect "UDPLineEndTx = LF  [paValueList"
has "inspect" inspect "UDPRxPort = 2900  [paMultiSelect, paRevertable]"
has "inspect" inspect "Version = 1.5 (read-only)  [paMultiSelect, paReadOnly]"
"$bin" inspect remote.qxf Volume --json >inspect.json
has "json" inspect.json '"property":"QxUDPS","value":"Udp","readOnly":false'
check "values" "$(printf 'CR\nCRLF')" "$("$bin" values remote.qxf Udp UDPLineEndTx)"
"$bin" add remote.qxf TQxUDPS Udp2
check "values, two selected" "$(printf 'CR\nCRLF')" "$("$bin" values remote.qxf Udp,Udp2 UDPLineEndRx)"
"$bin" set remote.qxf Udp.UDPLineEndTx= -o out.qxf
if grep -q "UDPLineEndTx" out.qxf; then echo "FAIL: empty line end not stored as empty" >&2; exit 1; fi
has "-o leaves the input" remote.qxf "UDPLineEndTx = 'LF'"
"$bin" revert remote.qxf Udp.UDPLineEndRx
if grep -q "UDPLineEndRx" remote.qxf; then echo "FAIL: revert left UDPLineEndRx" >&2; exit 1; fi

cp remote.qxf before.qxf
refused "unknown class" "unknown component class 'TNope'" "$bin" add remote.qxf TNope X
refused "unknown component" "no component named 'Nope'" "$bin" set remote.qxf Nope.Tag=1
refused "unknown property" "has no property 'Loud'" "$bin" set remote.qxf Udp.Loud=1
refused "read-only" "read-only" "$bin" set remote.qxf Udp.Version=2
refused "malformed value" "not a valid value for Tag" "$bin" set remote.qxf Udp.Tag=x
refused "malformed target" "COMPONENT.PROPERTY=VALUE" "$bin" set remote.qxf Udp
refused "bad form file" "bad.qxf:1:" sh -c "echo 'object' >bad.qxf; exec '$bin' inspect bad.qxf"
refused "no command" "no command" "$bin"
cmp remote.qxf before.qxf

check "system volume untouched by the designer" 37% "$(sink_volume)"
echo "qxdesign round trip: ok"
