#!/usr/bin/env python3
"""A UDP peer for the daemon's tests: sends one datagram from a chosen loopback address and
prints the replies that arrive within the wait (nothing when none).
  udp_peer.py PORT TEXT [--from ADDR] [--wait SECONDS] [--raw-hex HEX] [--repeat N] [--hex-reply]
TEXT gets CR LF appended unless --raw-hex gives the bytes instead. --hex-reply prints the reply
in hexadecimal (its line end included)."""
import argparse
import socket
import sys
import time

p = argparse.ArgumentParser()
p.add_argument("port", type=int)
p.add_argument("text")
p.add_argument("--from", dest="source", default="127.0.0.1")
p.add_argument("--wait", type=float, default=0.0)
p.add_argument("--raw-hex")
p.add_argument("--repeat", type=int, default=1)
p.add_argument("--hex-reply", action="store_true")
a = p.parse_args()
if not a.source.startswith("127."):
    sys.exit("udp_peer: only loopback sources")
data = bytes.fromhex(a.raw_hex) if a.raw_hex is not None else a.text.encode("latin-1") + b"\r\n"
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((a.source, 0))
for _ in range(a.repeat):
    s.sendto(data, ("127.0.0.1", a.port))
deadline = time.monotonic() + a.wait
while True:
    left = deadline - time.monotonic()
    if left <= 0:
        break
    s.settimeout(left)
    try:
        reply, _ = s.recvfrom(65536)
    except socket.timeout:
        break
    sys.stdout.write(reply.hex() if a.hex_reply else reply.decode("latin-1"))
    sys.stdout.flush()
    break
