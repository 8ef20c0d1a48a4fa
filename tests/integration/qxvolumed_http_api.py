#!/usr/bin/env python3
"""qxvolumed --http: the JSON interface as curl or a home-automation tool uses it, against the
private sound server (checked with pactl), then the server beside clients that misbehave: a
hundred idle connections, one that stops halfway through its headers, oversized and malformed
requests, and wrong tokens from one address. Loopback only.
  with-pulse qxvolumed_http_api.py QXVOLUMED"""
import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time

from http_daemon import Daemon, EventStream, pactl, sink_mute, sink_volume, wait_until

FAILS = []


def check(ok, what):
    if not ok:
        FAILS.append(what)
        print("FAIL:", what, file=sys.stderr)


d = Daemon(sys.argv[1])
pactl("set-sink-volume", "@DEFAULT_SINK@", "30%")
pactl("set-sink-mute", "@DEFAULT_SINK@", "0")
check(wait_until(lambda: d.request("GET", "/api/state")[2] == {"volume": 30, "mute": False}),
      "GET /api/state follows the sink")

other = "127.0.0.1:%d" % (d.port + 1)
# method, path, body, extra headers, token (True: the right one), status, sink afterwards
CASES = [
    ("GET", "/api/state", None, {}, False, 401, (30, False)),
    ("GET", "/api/state", None, {}, "0" * 32, 401, (30, False)),
    ("GET", "/api/state", None, {"Cookie": "t=" + d.token}, False, 401, (30, False)),
    ("GET", "/api/state?t=" + d.token, None, {}, False, 401, (30, False)),
    ("POST", "/api/state", "{}", {}, True, 405, (30, False)),
    ("GET", "/api/volume", None, {}, True, 405, (30, False)),
    ("PUT", "/api/mute", '{"mute":true}', {}, True, 405, (30, False)),
    ("GET", "/nothing", None, {}, True, 404, (30, False)),
    ("GET", "/%FF%FE", None, {}, True, 404, (30, False)),
    ("POST", "/api/volume", {"volume": 40}, {"Host": "evil.example"}, True, 421, (30, False)),
    ("POST", "/api/volume", {"volume": 40}, {"Host": other}, True, 421, (30, False)),
    ("POST", "/api/volume", {"volume": 40}, {"Origin": "http://evil.example"}, True, 403,
     (30, False)),
    ("POST", "/api/volume", "volume=40", {}, True, 400, (30, False)),
    ("POST", "/api/volume", {"volume": "40"}, {}, True, 400, (30, False)),
    ("POST", "/api/volume", {"volume": 40.5}, {}, True, 400, (30, False)),
    ("POST", "/api/volume", {"volume": 40, "step": 1}, {}, True, 400, (30, False)),
    ("POST", "/api/volume", {"step": 2}, {}, True, 400, (30, False)),
    ("POST", "/api/volume", [40], {}, True, 400, (30, False)),
    ("POST", "/api/volume", '{"volume":4' + "0" * 2000 + "}", {}, True, 413, (30, False)),
    ("POST", "/api/mute", {"mute": 1}, {}, True, 400, (30, False)),
    ("POST", "/api/volume", {"volume": 150}, {}, True, 200, (100, False)),
    ("POST", "/api/volume", {"volume": -5}, {}, True, 200, (0, False)),
    ("POST", "/api/volume", {"volume": 40}, {"Host": "localhost:%d" % d.port}, True, 200,
     (40, False)),
    ("POST", "/api/volume", {"step": 1}, {}, True, 200, (42, False)),
    ("POST", "/api/volume", {"step": -1}, {}, True, 200, (40, False)),
    ("POST", "/api/mute", {"mute": True}, {}, True, 200, (40, True)),
    ("POST", "/api/mute", {"mute": "toggle"}, {}, True, 200, (40, False)),
    ("POST", "/api/mute", {"mute": "toggle"}, {"Origin": "http://" + d.host}, True, 200,
     (40, True)),
    ("POST", "/api/mute", {"mute": False}, {}, True, 200, (40, False)),
]
for method, path, body, headers, token, status, sink in CASES:
    what = "%s %s %s %s" % (method, path, str(body)[:40], headers)
    got, h, answer = d.request(method, path, body, headers, token)
    check(got == status, "%s: status %d, expected %d (%s)" % (what, got, status, answer))
    check("Access-Control-Allow-Origin" not in h, what + ": a CORS header")
    if status >= 400:
        check(isinstance(answer, dict) and "\n" not in answer.get("error", "\n"),
              what + ": no one-line reason")
    if status == 405:
        check("Allow" in h, what + ": 405 without Allow")
    if status == 200:
        check(answer == {"volume": sink[0], "mute": sink[1]}, what + ": answered " + str(answer))
    check(wait_until(lambda: (sink_volume(), sink_mute()) == sink, 5),
          "%s: sink %s, expected %s" % (what, (sink_volume(), sink_mute()), sink))

status, h, page = d.request("GET", "/", token=False)
check(status == 200 and "<input id=\"vol\" type=\"range\"" in page, "GET / serves the page")
check("default-src 'none'" in h.get("Content-Security-Policy", ""), "the page has a CSP")

# Events: one on connecting, one per change whoever made it (here pactl and the UDP peer).
events = EventStream(d)
check(events.next_state() == {"volume": 40, "mute": False}, "an event on connecting")
pactl("set-sink-volume", "@DEFAULT_SINK@", "33%")
check(events.next_state() == {"volume": 33, "mute": False}, "an event for a pactl change")

# SIGHUP replaces the form: the open stream and the commands go on with the new one.
d.proc.send_signal(signal.SIGHUP)
check(wait_until(lambda: d.request("POST", "/api/volume", {"volume": 36})[0] == 200),
      "a command after SIGHUP")
check(events.next_state() == {"volume": 36, "mute": False}, "the stream goes on after SIGHUP")

# Clients that misbehave, all at once; the page's stream, the peer and the API go on.
idle = [socket.create_connection(("127.0.0.1", d.port)) for _ in range(100)]
half = socket.create_connection(("127.0.0.1", d.port))
half.sendall(b"GET /api/state HTTP/1.1\r\nHost: ")
huge = socket.create_connection(("127.0.0.1", d.port))
huge.sendall(b"GET / HTTP/1.1\r\nHost: " + d.host.encode() + b"\r\nX: " + b"a" * 60000 +
             b"\r\n\r\n")
check(huge.recv(100).startswith(b"HTTP/1.1 431"), "an oversized header gets 431")
bad = socket.create_connection(("127.0.0.1", d.port))
bad.sendall(b"GARBAGE\x00\x01 / HTTP/9\r\n\r\n")
check(bad.recv(100).startswith(b"HTTP/1.1 400"), "a malformed request gets 400")
chunked = socket.create_connection(("127.0.0.1", d.port), timeout=15)
chunked.sendall(("POST /api/volume HTTP/1.1\r\nHost: %s\r\nAuthorization: Bearer %s\r\n"
                 "Transfer-Encoding: chunked\r\n\r\n1000\r\n" % (d.host, d.token)).encode()
                + b" " * 4096 + b"\r\n0\r\n\r\n")
check(chunked.recv(100) in (b"", b"HTTP/1.1 413"), "an oversized chunked body is refused")
d.udp("AT+SETVOL=55")
check(events.next_state() == {"volume": 55, "mute": False}, "the stream follows the peer "
      "beside 100 idle connections")
check(wait_until(lambda: sink_volume() == 55), "the UDP peer is obeyed beside 100 idle connections")
check(d.request("POST", "/api/volume", {"volume": 45})[0] == 200, "a command beside them")
check(events.next_state() == {"volume": 45, "mute": False}, "the stream follows the command")
# The half-sent request is closed after the idle limit (10 s).
half.settimeout(30)
start = time.monotonic()
check(half.recv(100) == b"" and time.monotonic() - start < 25, "a stalled request is closed")
for s in idle + [huge, bad]:
    s.close()

# Wrong tokens from one address: after five, that address waits (even with the right token);
# another address is not held up.
for _ in range(6):
    d.request("GET", "/api/state", token="f" * 32, source="127.0.0.2")
status, h, _ = d.request("GET", "/api/state", source="127.0.0.2")
check(status == 429 and "Retry-After" in h, "wrong tokens slow their address down (%d)" % status)
check(d.request("GET", "/api/state")[0] == 200, "another address is not slowed down")

events.close()
check(d.stop() == 0, "qxvolumed stops cleanly")

# Pairing: a token file keeps the token across starts (made 0600 when missing); one that is too
# short is refused as a bad file (2); a taken port is a missing service (1).
work = tempfile.mkdtemp()
token_file = os.path.join(work, "token")
first = Daemon(sys.argv[1], "--http-token-file", token_file)
first.stop()
check(oct(os.stat(token_file).st_mode & 0o777) == "0o600", "the token file is private")
again = Daemon(sys.argv[1], "--http-token-file", token_file)
check(again.token == first.token == open(token_file).read().strip(), "the token file is kept")
r = subprocess.run([sys.argv[1], "--no-overlay", "--port", "0", "--http", str(again.port)],
                   capture_output=True, text=True, timeout=30)
check(r.returncode == 1 and "address already in use" in r.stderr.lower(),
      "a taken port: %d %s" % (r.returncode, r.stderr))
again.stop()
open(token_file, "w").write("short\n")
r = subprocess.run([sys.argv[1], "--no-overlay", "--port", "0", "--http", "0",
                    "--http-token-file", token_file], capture_output=True, text=True, timeout=30)
check(r.returncode == 2 and token_file in r.stderr, "a short token: %d %s" % (r.returncode,
                                                                            r.stderr))

# On every interface the printed address is one of the host's own (not sent to: only its Host
# header is used, over loopback), and HTTPS serves with the given certificate.
wide = Daemon(sys.argv[1], "--http", "0.0.0.0:0")
check(not wide.host.startswith("0.0.0.0"), "a LAN address is printed: " + wide.url)
check(wide.request("GET", "/api/state")[0] == 200, "its Host header is accepted")
wide.stop()
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                "-subj", "/CN=127.0.0.1", "-keyout", work + "/key.pem", "-out", work + "/cert.pem"],
               capture_output=True, check=True)
tls = Daemon(sys.argv[1], "--http-cert", work + "/cert.pem", "--http-key", work + "/key.pem")
check(tls.url.startswith("https://"), "HTTPS is printed: " + tls.url)
conn = http.client.HTTPSConnection("127.0.0.1", tls.port, timeout=10,
                                   context=ssl._create_unverified_context())
conn.request("GET", "/api/state", headers={"Host": tls.host,
                                           "Authorization": "Bearer " + tls.token})
check(conn.getresponse().status == 200, "a request over HTTPS")
tls.stop()
shutil.rmtree(work)
print("%d failures" % len(FAILS) if FAILS else "all passed")
sys.exit(1 if FAILS else 0)
