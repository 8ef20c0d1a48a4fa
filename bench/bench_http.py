#!/usr/bin/env python3
"""The phone page's costs, each beside a baseline measured in the same run, against a private
sound server (run under scripts/with-pulse):
- a command to the sink: POST /api/volume until `pactl subscribe` reports the sink's change,
  against a datagram AT+SETVOL=N to the same daemon until the same report (interleaved);
- a change to the page: one pactl change until its SSE message arrives, against the same change
  reaching `qxvolume follow` (both read at once);
- the daemon's resident memory without and with 100 open event streams.
  with-pulse bench_http.py QXVOLUMED QXVOLUME [ROUNDS]"""
import os
import queue
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "integration"))
from http_daemon import Daemon, EventStream, pactl  # noqa: E402

QXVOLUMED, QXVOLUME = sys.argv[1], sys.argv[2]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 40


def lines_of(proc, match):
    """A queue of (time, line) for the process's output lines that contain `match`."""
    q = queue.Queue()

    def read():
        for line in proc.stdout:
            if match in line:
                q.put((time.perf_counter(), line))
    threading.Thread(target=read, daemon=True).start()
    return q


def drain(q):
    while not q.empty():
        q.get_nowait()


def summary(values):
    v = sorted(values)
    return v[len(v) // 2], v[min(len(v) - 1, len(v) * 9 // 10)]


def row(name, ms, base_name, base_ms):
    m, p = summary(ms)
    bm, bp = summary(base_ms)
    print("%-34s median %6.2f ms  p90 %6.2f ms | %-22s median %6.2f ms  p90 %6.2f ms | ratio %.2f"
          % (name, m, p, base_name, bm, bp, m / bm))


def rss_kib(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


d = Daemon(QXVOLUMED)
import http.client  # noqa: E402
conn = http.client.HTTPConnection("127.0.0.1", d.port, timeout=10)
headers = {"Host": d.host, "Authorization": "Bearer " + d.token,
           "Content-Type": "application/json"}

watch = subprocess.Popen(["pactl", "subscribe"], stdout=subprocess.PIPE, text=True)
sink_events = lines_of(watch, "on sink #")
time.sleep(0.5)

http_ms, udp_ms = [], []
for i in range(ROUNDS):
    for path in ("http", "udp"):
        level = 20 + (i * 2 + (path == "udp")) % 50
        time.sleep(0.05)
        drain(sink_events)
        t0 = time.perf_counter()
        if path == "http":
            conn.request("POST", "/api/volume", body='{"volume":%d}' % level, headers=headers)
            conn.getresponse().read()
        else:
            d.udp("AT+SETVOL=%d" % level)
        t1, _ = sink_events.get(timeout=10)
        (http_ms if path == "http" else udp_ms).append((t1 - t0) * 1000)
row("POST /api/volume -> sink event", http_ms, "AT+SETVOL -> sink event", udp_ms)

stream = EventStream(d)
stream.next_state()
follow = subprocess.Popen([QXVOLUME, "follow"], stdout=subprocess.PIPE, text=True)
follow_lines = lines_of(follow, "")
time.sleep(1.0)
drain(follow_lines)
sse_ms, follow_ms = [], []
for i in range(ROUNDS):
    level = 60 + i % 30
    time.sleep(0.1)
    drain(follow_lines)
    t0 = time.perf_counter()
    subprocess.run(["pactl", "set-sink-volume", "@DEFAULT_SINK@", "%d%%" % level], check=True)
    state = stream.next_state()
    t_sse = time.perf_counter()
    t_follow, _ = follow_lines.get(timeout=10)
    if state and state["volume"] == level:
        sse_ms.append((t_sse - t0) * 1000)
        follow_ms.append((t_follow - t0) * 1000)
row("pactl change -> SSE message", sse_ms, "-> qxvolume follow", follow_ms)
follow.terminate()
stream.close()

before = rss_kib(d.proc.pid)
streams = [EventStream(d) for _ in range(100)]
for s in streams:
    s.next_state()
after = rss_kib(d.proc.pid)
pactl("set-sink-volume", "@DEFAULT_SINK@", "44%")
got = sum(1 for s in streams if s.next_state() == {"volume": 44, "mute": False})
print("resident memory: %d KiB with no page open, %d KiB with 100 event streams "
      "(+%.1f KiB each); %d of 100 streams got the next change"
      % (before, after, (after - before) / 100.0, got))
for s in streams:
    s.close()
watch.terminate()
d.stop()
