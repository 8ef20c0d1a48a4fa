#!/usr/bin/env bash
# qxvolumed's command line, refused before anything starts: --help, and bad arguments with exit 2
# and a line naming what was wrong.
set -uo pipefail
bin="$1"
"$bin" --help | grep -q -- '--remote-ip' || { echo "FAIL: --help" >&2; exit 1; }
while IFS='|' read -r args message; do
  # shellcheck disable=SC2086
  "$bin" $args >/dev/null 2>"${TMPDIR:-/tmp}/qxvolumed_cli.$$"
  rc=$?
  err="$(head -n 1 "${TMPDIR:-/tmp}/qxvolumed_cli.$$")"
  rm -f "${TMPDIR:-/tmp}/qxvolumed_cli.$$"
  if [ "$rc" != 2 ] || [[ "$err" != *"$message"* ]]; then
    echo "FAIL: qxvolumed $args: exit $rc, '$err' (wanted 2, '$message')" >&2
    exit 1
  fi
done <<'TABLE'
--port|--port needs a port number
--port 70000|--port needs a port number
--port 0x20|--port needs a port number
--align left|--align needs top or bottom
--audio oss|--audio needs auto, pulse or alsa
--form|--form needs a file
--loud|unknown argument: --loud
--form /nonexistent/form.qxf|/nonexistent/form.qxf: No such file or directory
TABLE
echo "qxvolumed command line: ok"
