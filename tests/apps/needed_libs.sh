#!/usr/bin/env bash
# What a program or library loads, from the ELF NEEDED entries: its own and, recursively, those of
# the project's libraries (libqx-*) it names, found in LIBDIR. Fails when any of them is a GUI or
# sound library; prints the chain that brings it.
#   needed_libs.sh LIBDIR FILE...
set -uo pipefail
libdir="$1"
shift
forbidden='^lib(X11|Xext|Xrandr|xcb|cairo|wayland-client|fontconfig|pulse|asound)\.so'
status=0
declare -A seen
walk() {  # file, chain
  local f="$1" chain="$2" lib
  readelf -h "$f" >/dev/null 2>&1 || { echo "FAIL: $f is no ELF file" >&2; status=1; return; }
  local needed
  needed="$(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')"
  for lib in $needed; do
    if [[ "$lib" =~ $forbidden ]]; then
      echo "FAIL: $chain -> $lib" >&2
      status=1
    elif [[ "$lib" == libqx-* && -z "${seen[$lib]:-}" ]]; then
      seen[$lib]=1
      if [ -e "$libdir/$lib" ]; then
        walk "$libdir/$lib" "$chain -> $lib"
      else
        echo "FAIL: $chain -> $lib is not in $libdir" >&2
        status=1
      fi
    fi
  done
}
for f in "$@"; do
  seen=()
  walk "$f" "$(basename "$f")"
done
exit $status
