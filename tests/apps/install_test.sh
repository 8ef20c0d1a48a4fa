#!/usr/bin/env bash
# `make install` into a temporary DESTDIR: the programs, both component packages with their
# headers and the user service land under the prefix, and the installed daemon runs from there
# with the installed libraries.
#   install_test.sh BUILD_DIR
set -uo pipefail
build="$1"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
prefix=/opt/qx-test
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$stage/log" 2>&1 ||
  { cat "$stage/log" >&2; fail "cmake --install"; }
root="$stage$prefix"
for f in bin/qxvolumed bin/qxudp include/qx/udp_link/QxUDPS.h include/qx/master_volume/QxMasterVol.h \
  include/qx/framework/core/Classes.h lib/systemd/user/qxvolumed.service \
  lib/systemd/user/qxvolumed@.service; do
  [ -e "$root/$f" ] || fail "$f is not installed"
done
for lib in libqx-udps.so.1 libqx-mastervol.so.1 libqx-core.so.1 libqx-ui.so.1 libqx-udps-design.so.1; do
  [ -n "$(find "$root" -name "$lib")" ] || fail "$lib is not installed"
done
grep -qx "ExecStart=$prefix/bin/qxvolumed" "$root/lib/systemd/user/qxvolumed.service" ||
  fail "the service starts the installed daemon"
grep -qx "ExecStart=$prefix/bin/qxvolumed \$QXVOLUMED_ARGS" "$root/lib/systemd/user/qxvolumed@.service" ||
  fail "the template starts the installed daemon with its instance's options"
# The installed daemon finds the installed libraries, not the build tree's.
readelf -d "$root/bin/qxvolumed" | grep -q 'RUNPATH.*\$ORIGIN' || fail "relocatable run path"
readelf -d "$root/bin/qxvolumed" | grep -q "$build" && fail "the build tree leaks into the run path"
# Read whole before it is searched: grep -q leaving early would end a help longer than a pipe's
# first write with SIGPIPE, and pipefail would take that for a failure.
help="$("$root/bin/qxvolumed" --help)" && grep -q -- '--remote-ip' <<<"$help" ||
  fail "the installed daemon runs"
echo "install: ok"
