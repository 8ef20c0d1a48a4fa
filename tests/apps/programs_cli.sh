#!/usr/bin/env bash
# Every program's command line, refused before anything starts: --version, the one wording of a
# bad option, and the usage errors that name what was wrong, each with exit status 2.
#   programs_cli.sh BINDIR
set -uo pipefail
bin="$1"
err="$(mktemp)"
trap 'rm -f "$err"' EXIT
fails=0
fail() {
  echo "FAIL: $*" >&2
  fails=$((fails + 1))
}

for p in qxvolumed qxudp qxvolume qxoverlay qxdesign; do
  for v in --version -V --vers; do
    out="$("$bin/$p" $v)" || fail "$p $v: exit $?"
    [[ "$out" =~ ^$p\ .*\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$p $v: '$out'"
  done
  for h in --help -h --he; do
    "$bin/$p" $h | grep -q -- '--version' || fail "$p $h does not list --version"
  done
  "$bin/$p" --bogus >/dev/null 2>"$err"
  rc=$?
  want="$p: unknown option '--bogus'
Try '$p --help' for more information."
  [ "$rc" = 2 ] && [ "$(cat "$err")" = "$want" ] || fail "$p --bogus: exit $rc, '$(cat "$err")'"
done

# PROGRAM ARGS | the start of the first line on standard error (exit status 2 for each)
while IFS='|' read -r args message; do
  # shellcheck disable=SC2086
  "$bin"/$args >/dev/null 2>"$err"
  rc=$?
  first="$(head -n 1 "$err")"
  if [ "$rc" != 2 ] || [[ "$first" != *"$message"* ]]; then
    fail "$args: exit $rc, '$first' (wanted 2, '$message')"
  fi
done <<'TABLE'
qxvolumed --port|option '--port' needs a value
qxvolumed --port 70000|--port needs a port number from 0 to 65535
qxvolumed --port=0x20|--port needs a port number from 0 to 65535
qxvolumed --remote-ip pc.local|--remote-ip needs a dotted IPv4 address
qxvolumed --remote-ip 192.168.1|--remote-ip needs a dotted IPv4 address
qxvolumed --remote-ip 0.0.0.0|--remote-ip needs the address of one machine
qxvolumed --remote-ip 255.255.255.255|--remote-ip needs the address of one machine
qxvolumed --remote-ip 224.0.0.251|--remote-ip needs the address of one machine
qxvolumed --remote-ip 192.168.1.255|--remote-ip needs the address of one machine
qxvolumed --p 2801|option '--p' is ambiguous
qxvolumed --snapshot-keep x|--snapshot-keep needs a number of frames
qxvolumed --align left|--align needs top or bottom
qxvolumed --audio oss|--audio needs one of: auto, pulse, alsa
qxvolumed --json=yes|option '--json' takes no value
qxvolumed --form /nonexistent/form.qxf|/nonexistent/form.qxf: No such file or directory
qxvolumed --form /dev/zero|/dev/zero: not a regular file
qxudp listen --port 70000|--port needs a port number from 0 to 65535
qxudp send 127.0.0.1 99999 hi|send needs a port number from 0 to 65535
qxudp frobnicate|unknown command 'frobnicate'
qxvolume set 101|set needs a volume from 0 to 100
qxvolume up 0|up needs a step from 1 to 100
qxvolume get extra|get takes no argument
qxoverlay --png x.png|--volume is required
qxdesign|no command given
TABLE

[ "$fails" = 0 ] || exit 1
echo "programs' command lines: ok"
