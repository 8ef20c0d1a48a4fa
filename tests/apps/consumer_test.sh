#!/usr/bin/env bash
# An application developer's view of an install: into a temporary DESTDIR under /usr, then both
# examples built against that tree alone, once through pkg-config and once through
# find_package(Qx); the echo example answers a loopback peer, the volume remote obeys a command
# (beside the private sound server of scripts/with-pulse, headless), and every program has its
# man page.
#   consumer_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build="$1"
src="$2"
stage="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
prefix=/usr
root="$stage$prefix"

DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$stage/install.log" 2>&1 ||
  { cat "$stage/install.log" >&2; fail "cmake --install"; }
for p in qxvolumed qxudp qxvolume qxoverlay qxdesign; do
  [ -s "$root/share/man/man1/$p.1.gz" ] || fail "no man page for $p"
  zcat "$root/share/man/man1/$p.1.gz" | grep -q "^\.SH NAME" || fail "$p.1 is no man page"
done
pcdir="$(dirname "$(find "$root" -name qx-udps.pc)")"
libdir="$(dirname "$(find "$root" -name libqx-udps.so.1)")"
[ -d "$pcdir" ] && [ -d "$libdir" ] || fail "no qx-udps.pc or libqx-udps.so.1 under $root"

# Each example, twice; nothing but the staged tree (and the system's own folders) to build from.
for ex in udp-echo volume-remote; do
  cp -r "$src/examples/$ex" "$stage/$ex-pc"
  PKG_CONFIG_SYSROOT_DIR="$stage" PKG_CONFIG_LIBDIR="$pcdir" \
    make -C "$stage/$ex-pc" >"$stage/$ex-pc.log" 2>&1 ||
    { cat "$stage/$ex-pc.log" >&2; fail "$ex through pkg-config"; }
  { cmake -S "$src/examples/$ex" -B "$stage/$ex-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root" &&
    cmake --build "$stage/$ex-cmake"; } >"$stage/$ex-cmake.log" 2>&1 ||
    { cat "$stage/$ex-cmake.log" >&2; fail "$ex through find_package"; }
  grep -q "Qx_DIR:PATH=$root/" "$stage/$ex-cmake/CMakeCache.txt" || fail "$ex found another Qx"
done
export LD_LIBRARY_PATH="$libdir"

# The UDP component brings no GUI or sound library, by pkg-config or by Qx::UDPS.
udps_libs="$(PKG_CONFIG_SYSROOT_DIR="$stage" PKG_CONFIG_LIBDIR="$pcdir" pkg-config --libs qx-udps)"
for flag in $udps_libs; do
  [[ "$flag" =~ ^-L|^-lqx-(udps|core|net)$ ]] || fail "qx-udps.pc brings $flag"
done
bash "$src/tests/apps/needed_libs.sh" "$libdir" "$stage/udp-echo-pc/udp-echo" \
  "$stage/udp-echo-cmake/udp-echo" || fail "the UDP example loads a GUI or sound library"

# Waits until FILE has a line matching PATTERN (10 s at most).
wait_for() {
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  fail "no '$2' in $1: $(cat "$1")"
}
# Sends TEXT to 127.0.0.1:PORT and prints the answer (nothing after 5 s).
ask() {
  python3 - "$1" "$2" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(5)
s.bind(("127.0.0.1", 0))
s.sendto(sys.argv[2].encode().decode("unicode_escape").encode("latin-1"), ("127.0.0.1", int(sys.argv[1])))
try:
    print(repr(s.recv(65536)))
except socket.timeout:
    pass
EOF
}

for echo in "$stage/udp-echo-pc/udp-echo" "$stage/udp-echo-cmake/udp-echo"; do
  "$echo" 0 2 >"$stage/echo.out" 2>&1 &
  pid=$!
  pids+=("$pid")
  wait_for "$stage/echo.out" '^listening on 127.0.0.1:[1-9]'
  port="$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$stage/echo.out")"
  [ "$(ask "$port" 'hello')" = "b'hello'" ] || fail "$echo: no echo of hello"
  [ "$(ask "$port" 'AT+MUTE\r\n')" = "b'AT+MUTE\\r\\n'" ] || fail "$echo: no echo of a line"
  wait "$pid" || fail "$echo: exit status $? after its two packets"
done

# The volume remote: a command from the one peer it obeys changes the private server's volume,
# and the change is printed; SIGTERM ends it cleanly.
port="$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
QX_WINDOWS=headless "$stage/volume-remote-cmake/volume-remote" "$port" >"$stage/vol.out" 2>&1 &
pid=$!
pids+=("$pid")
wait_for "$stage/vol.out" '^udp: listening'
ask "$port" 'AT+SETVOL=40\r\n' >/dev/null
wait_for "$stage/vol.out" '^audio: volume 40$'
pactl get-sink-volume @DEFAULT_SINK@ | grep -q ' 40%' || fail "the sound server's volume is not 40 %"
kill -TERM "$pid"
wait "$pid" || fail "volume-remote: exit status $? on SIGTERM"
echo "consumer: ok"
