#!/usr/bin/env python3
"""A crowd of strangers for the daemon's tests: sends TEXT from every address 127.0.0.FIRST to
127.0.0.LAST, PORTS source ports each, taking turns, until SECONDS have passed or COUNT datagrams
are sent, at most RATE a second (0: as fast as it can). Prints how many it sent.
  udp_crowd.py PORT TEXT [--first 2] [--last 250] [--ports 2] [--seconds 5] [--count 0]
                         [--rate 0] [--raw-hex HEX]
TEXT gets CR LF appended unless --raw-hex gives the bytes instead. Loopback only."""
import argparse
import socket
import sys
import time

p = argparse.ArgumentParser()
p.add_argument("port", type=int)
p.add_argument("text")
p.add_argument("--first", type=int, default=2)
p.add_argument("--last", type=int, default=250)
p.add_argument("--ports", type=int, default=2)
p.add_argument("--seconds", type=float, default=5.0)
p.add_argument("--count", type=int, default=0)
p.add_argument("--rate", type=float, default=0.0)
p.add_argument("--raw-hex")
a = p.parse_args()
if not 1 <= a.first <= a.last <= 254:
    sys.exit("udp_crowd: addresses are 127.0.0.FIRST to 127.0.0.LAST, within 1..254")
data = bytes.fromhex(a.raw_hex) if a.raw_hex is not None else a.text.encode("latin-1") + b"\r\n"
crowd = []
for host in range(a.first, a.last + 1):
    for _ in range(a.ports):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.%d" % host, 0))
        crowd.append(s)
to = ("127.0.0.1", a.port)
start = time.monotonic()
sent = 0
while (a.count == 0 or sent < a.count) and time.monotonic() - start < a.seconds:
    if a.rate > 0:
        ahead = sent / a.rate - (time.monotonic() - start)
        if ahead > 0:
            time.sleep(ahead)
    try:
        crowd[sent % len(crowd)].sendto(data, to)
    except OSError:
        pass  # a full socket buffer: the datagram is lost, as on any busy network
    sent += 1
print(sent)
