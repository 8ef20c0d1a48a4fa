#!/usr/bin/env bash
# qxudp as a user runs it: a listener answering OK, a one-shot send that prints the reply, JSON
# output, and a clean stop on SIGINT with the final status event.
set -euo pipefail
bin="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"; kill %1 2>/dev/null || true' EXIT

# A free port on 127.0.0.1.
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

"$bin" listen --port "$port" --line-end-rx CRLF --respond OK --json > "$dir/listen.out" &
for _ in $(seq 100); do grep -q '"active":true' "$dir/listen.out" 2>/dev/null && break; sleep 0.05; done
grep -q '"event":"status","active":true,"error":0,"desc":""' "$dir/listen.out"

"$bin" send 127.0.0.1 "$port" 'AT+SETVOL=40' --line-end-tx CRLF --json > "$dir/send.out"
grep -qx '{"event":"reply","text":"OK\\r\\n","hex":"HEX(4) 4F4B0D0A","peer":"127.0.0.1","port":'"$port"'}' "$dir/send.out"
grep -q '"event":"packet","text":"AT+SETVOL=40","hex":"HEX(12) 41542B534554564F4C3D3430","peer":"127.0.0.1"' "$dir/listen.out"

# --no-reply returns once the datagram has left: it is received, and the answer is not waited for.
"$bin" send 127.0.0.1 "$port" 'AT+MUTE' --line-end-tx CRLF --no-reply --json > "$dir/noreply.out"
for _ in $(seq 100); do grep -q '"text":"AT+MUTE"' "$dir/listen.out" && break; sleep 0.05; done
grep -q '"text":"AT+MUTE"' "$dir/listen.out"
[ ! -s "$dir/noreply.out" ]

kill -INT %1
wait %1
tail -n 1 "$dir/listen.out" | grep -qx '{"event":"status","active":false,"error":0,"desc":""}'

# Nothing sent, for every reason: one line on standard error, exit 1.
big=$(head -c 70000 /dev/zero | tr '\0' x)
for args in "127.0.0.1 $port ''" "no-such-host.invalid $port x" "127.0.0.1 $port $big"; do
  rc=0
  eval "\"\$bin\" send $args" 2> "$dir/err" || rc=$?
  if [ "$rc" -ne 1 ] || [ "$(wc -l < "$dir/err")" -ne 1 ] || ! grep -q 'nothing sent' "$dir/err"; then
    echo "send ${args:0:40}: exit $rc, stderr: $(head -c 200 "$dir/err")"; exit 1
  fi
done

# --port 0 says which port it bound.
"$bin" listen --port 0 > "$dir/any.out" &
any=$!
for _ in $(seq 100); do grep -q 'status: active on 127.0.0.1:[1-9]' "$dir/any.out" 2>/dev/null && break; sleep 0.05; done
grep -q 'status: active on 127.0.0.1:[1-9]' "$dir/any.out"
kill -INT $any
wait $any
echo "qxudp round trip: ok"
