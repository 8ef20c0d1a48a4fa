#!/usr/bin/env bash
# The man pages made from the programs' --help, as man, lexgrog (whatis) and groff read them:
# no groff warnings, a NAME line, a synopsis of whole command lines only, and a description that
# begins as a paragraph (help2man puts a usage line's continuation there), and each command and
# option of the table below at the start of a line of its own (a tag, not run into the text).
#   man_pages.sh MAN_DIR
set -uo pipefail
dir="$1"
fails=0
fail() {
  echo "FAIL: $*" >&2
  fails=$((fails + 1))
}
for tool in man lexgrog groff; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (packages man-db, groff-base)"; exit 77; }
done
pages=("$dir"/*.1.gz)
[ -e "${pages[0]}" ] || { echo "FAIL: no man pages in $dir" >&2; exit 1; }
for page in "${pages[@]}"; do
  name="$(basename "$page" .1.gz)"
  warnings="$(zcat "$page" | groff -ww -z -man 2>&1)"
  [ -z "$warnings" ] || fail "$name: groff: $warnings"
  lexgrog "$page" >/dev/null 2>&1 || fail "$name: lexgrog finds no NAME line"
  text="$(MANWIDTH=100 man -l "$page" 2>&1)"
  synopsis="$(sed -n '/^SYNOPSIS$/,/^[A-Z]/p' <<<"$text" | sed '1d;$d' | grep -v '^$')"
  while read -r line; do
    [[ "$line" == "$name "* || "$line" == "$name" ]] || fail "$name: synopsis line '$line'"
  done <<<"$synopsis"
  first="$(sed -n '/^DESCRIPTION$/,$p' <<<"$text" | sed -n '2,$p' | grep -v '^$' | head -n 1)"
  [[ "$first" =~ ^\ {7}[^\ ] ]] || fail "$name: the description begins '$first'"
done
while read -r name tags; do
  [ -f "$dir/$name.1.gz" ] || continue
  text="$(MANWIDTH=100 man -l "$dir/$name.1.gz" 2>&1)"
  for tag in $tags; do
    grep -qE "^ {7}$(sed 's/[+.]/\\&/g' <<<"$tag")( |$)" <<<"$text" || fail "$name: '$tag' is no tag of its own"
  done
done <<'TABLE'
qxvolumed AT+SETVOL=N AT+VOLUP AT+VOLDOWN AT+MUTE AT+GETVOL AT+GETMUTE --remote-ip --snapshot-keep
qxudp listen send --no-reply --line-end-rx
qxdesign palette bitmap package new add inspect values set revert
qxvolume get set follow --json
qxoverlay --volume --show --png
TABLE
[ "$fails" = 0 ] || exit 1
echo "man pages: ok"
