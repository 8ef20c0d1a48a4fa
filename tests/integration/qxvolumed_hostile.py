#!/usr/bin/env python3
"""qxvolumed where its surroundings misbehave: an output that closes or is never read, form files
that never end or are too large, a form that binds a taken port, a full disk under --snapshot,
a sound server that stalls, a stranger's datagrams between the peer's fragments, a flood
from rotating source addresses, a burst of SIGHUP, and reloads while a local user tries to
take the port. Every case checks that the peer's commands still apply and that
the daemon stops promptly. Loopback only; the sound server is the private one of with-pulse.
  with-pulse qxvolumed_hostile.py QXVOLUMED [CASE...]"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


BIN = sys.argv[1]
ONLY = sys.argv[2:]
if not os.environ.get("PULSE_SERVER"):
    sys.exit("run me under scripts/with-pulse")
os.environ.pop("DISPLAY", None)
os.environ.pop("WAYLAND_DISPLAY", None)
from daemon_kit import FAILS, fail, free_port, pactl, sink_volume, wait_until


class Peer:
    """The configured peer (127.0.0.1): sends commands, asks queries."""

    def __init__(self, port, source="127.0.0.1"):
        self.port = port
        self.s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.s.bind((source, 0))

    def send(self, data):
        self.s.sendto(data if isinstance(data, bytes) else data.encode() + b"\r\n",
                      ("127.0.0.1", self.port))

    def ask(self, text, timeout=2.0):
        """The answer to a query, and how long it took (None when none came)."""
        self.s.settimeout(0)
        try:
            while True:
                self.s.recv(65536)  # answers that came late
        except (BlockingIOError, socket.timeout):
            pass
        start = time.monotonic()
        self.send(text)
        self.s.settimeout(timeout)
        try:
            reply = self.s.recv(65536)
        except socket.timeout:
            return None, None
        return reply.decode("latin-1").strip(), time.monotonic() - start

    def volume(self):
        reply, _ = self.ask("AT+GETVOL")
        # Queries that waited in the same packet are answered together, a line each.
        last = reply.split()[-1] if reply else ""
        return int(last[4:]) if last.startswith("VOL=") else None


def start(args, stdout=subprocess.DEVNULL, port=None, stderr=subprocess.PIPE):
    port = port or free_port()
    p = subprocess.Popen([BIN, "--port", str(port), "--no-overlay", *args], stdout=stdout,
                         stderr=stderr)
    peer = Peer(port)
    if not wait_until(lambda: p.poll() is not None or peer.volume() is not None):
        fail(f"{args}: the daemon does not answer")
    return p, peer


def stop(p, what, seconds=2.0):
    """SIGTERM: the daemon must be gone within `seconds`."""
    p.send_signal(signal.SIGTERM)
    try:
        p.wait(seconds)
    except subprocess.TimeoutExpired:
        fail(f"{what}: still running {seconds} s after SIGTERM")
        p.kill()
        p.wait()


def case_closed_stdout():
    r, w = os.pipe()
    p, peer = start(["--json"], stdout=w)
    os.close(w)
    os.read(r, 4096)
    os.close(r)  # like `| head -n 1`
    for v in (31, 32, 33):
        peer.send(f"AT+SETVOL={v}")
    if not wait_until(lambda: sink_volume() == 33):
        fail("stdout closed: commands still apply")
    if p.poll() is not None:
        fail(f"stdout closed: the daemon ended (status {p.returncode})")
    stop(p, "stdout closed")
    if b"standard output is closed" not in p.stderr.read():
        fail("stdout closed: one line on stderr says so")


def case_unread_stdout():
    r, w = os.pipe()  # nobody reads r: the pipe fills after a few hundred events
    p, peer = start(["--json", "--verbose"], stdout=w)
    for i in range(10000):
        peer.send(f"AT+SETVOL={i % 90}")
        if i % 200 == 199:
            time.sleep(0.005)  # paced, so that the kernel's buffer keeps every datagram
    peer.send("AT+SETVOL=77")
    if not wait_until(lambda: peer.volume() == 77 and sink_volume() == 77):
        fail("stdout unread: the last of 10,001 commands applies")
    stop(p, "stdout unread")
    os.close(w)
    os.close(r)


def case_form_files():
    with tempfile.TemporaryDirectory() as d:
        fifo = os.path.join(d, "fifo")
        os.mkfifo(fifo)
        big = os.path.join(d, "big.qxf")
        with open(big, "wb") as f:
            f.write(b"object VolumeRemote: TForm\n" + b"  Tag = 1\n" * (17 * 1024 * 1024 // 10))
        for path, message in ((fifo, "not a regular file"), ("/dev/zero", "not a regular file"),
                              ("/dev/urandom", "not a regular file"), (big, "at most 16 MiB")):
            start_time = time.monotonic()
            r = subprocess.run([BIN, "--form", path, "--no-overlay"], capture_output=True,
                               timeout=10)
            took = time.monotonic() - start_time
            err = r.stderr.decode()
            if r.returncode != 2 or message not in err or took > 1.0:
                fail(f"--form {path}: exit {r.returncode} in {took:.2f} s, '{err.strip()}'")


def case_active_form():
    """A form that binds its own port (taken) while --port names a free one."""
    taken = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    taken.bind(("127.0.0.1", 0))
    form = subprocess.run([BIN, "--print-form"], capture_output=True, text=True).stdout
    form = form.replace("UDPRxPort = '2800'", f"UDPRxPort = '{taken.getsockname()[1]}'")
    form = form.replace("  object Udp: TQxUDPS\n", "  object Udp: TQxUDPS\n    UDPActive = True\n")
    with tempfile.NamedTemporaryFile("w", suffix=".qxf", delete=False) as f:
        f.write(form)
    try:
        p, peer = start(["--form", f.name])
        peer.send("AT+SETVOL=45")
        if not wait_until(lambda: sink_volume() == 45):
            fail("an active form with --port serves on the given port")
        if p.poll() is not None:
            fail(f"an active form with --port: exit {p.returncode}")
        stop(p, "active form")
    finally:
        os.unlink(f.name)
        taken.close()


def case_full_snapshot():
    if os.geteuid() != 0:
        print("full_snapshot: skipped (mounting a small tmpfs needs root)")
        return
    with tempfile.TemporaryDirectory() as d:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=12k", "tmpfs", d], check=True)
        try:
            p, peer = start(["--snapshot", d])
            for v in (10, 20, 30, 40, 50, 60):
                peer.send(f"AT+SETVOL={v}")
            wait_until(lambda: sink_volume() == 60)
            # The stop composes and writes the frames still waiting.
            stop(p, "full snapshot")
            names = os.listdir(d)
            empty = [n for n in names if os.path.getsize(os.path.join(d, n)) == 0]
            if empty or any(n.startswith(".") for n in names):
                fail(f"--snapshot on a full disk leaves {names}")
            if p.stderr.read().count(b"cannot write") != 1:
                fail("--snapshot on a full disk: the failure is said once")
        finally:
            subprocess.run(["umount", d])


def case_reload():
    """SIGHUP reads the form again: a good one takes over, a broken one leaves the old running."""
    form = subprocess.run([BIN, "--print-form"], capture_output=True, text=True).stdout
    with tempfile.NamedTemporaryFile("w", suffix=".qxf", delete=False) as f:
        f.write(form)
    err = tempfile.TemporaryFile()
    try:
        p, peer = start(["--form", f.name], stderr=err)
        stranger = Peer(peer.port, "127.0.0.7")
        for text, obeys, said in (
                (form.replace("UdpRemoteIP = '127.0.0.1'", "UdpRemoteIP = '127.0.0.7'"), stranger,
                 b"read again"),
                ("object VolumeRemote: TForm\n  object Udp: TQxUDPS\n", stranger, b"is kept")):
            with open(f.name, "w") as g:
                g.write(text)
            p.send_signal(signal.SIGHUP)
            if not wait_until(lambda: (err.seek(0), said in err.read())[1], 5):
                fail(f"SIGHUP: stderr says '{said.decode()}'")
            v = 20 + len(said)
            if not wait_until(lambda: (obeys.send(f"AT+SETVOL={v}"), sink_volume() == v)[1], 5):
                fail(f"SIGHUP ({said.decode()}): the peer of the form in force is obeyed")
        stop(p, "reload")
    finally:
        os.unlink(f.name)


def case_sighup_burst():
    """100 SIGHUP in a second: each reload runs whole, and one form serves afterwards."""
    p, peer = start([])
    for _ in range(100):
        p.send_signal(signal.SIGHUP)
        time.sleep(0.01)
    if not wait_until(lambda: p.poll() is not None or peer.volume() is not None, 5):
        fail("SIGHUP burst: the daemon answers afterwards")
    peer.send("AT+SETVOL=37")
    if p.poll() is not None or not wait_until(lambda: sink_volume() == 37, 5):
        fail(f"SIGHUP burst: the daemon serves on (status {p.poll()})")
    stop(p, "SIGHUP burst")


# A local user who takes a UDP port the moment it is free.
SQUATTER = """
import socket, sys
print("trying", flush=True)
while True:
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", int(sys.argv[1])))
    except OSError:
        s.close()
        continue
    print("bound", flush=True)
    break
"""


def case_reload_keeps_port():
    """Reloads ten times a second while a local user loops on binding the port and the peer sends
    paced commands: the port is never free, and every command reaches the daemon."""
    squat = None
    can_squat = os.geteuid() == 0 and shutil.which("setpriv")
    if not can_squat:
        print("reload_keeps_port: without a squatter (it runs as nobody, which needs root)")
    with tempfile.NamedTemporaryFile(suffix=".out") as out:
        p, peer = start(["--json"], stdout=out)
        if can_squat:
            squat = subprocess.Popen(["setpriv", "--reuid=nobody", "--regid=nogroup",
                                      "--clear-groups", sys.executable, "-c", SQUATTER,
                                      str(peer.port)], stdout=subprocess.PIPE)
            if squat.stdout.readline() != b"trying\n":
                fail("reloads: the squatter runs")
        try:
            for i in range(300):
                peer.send(f"AT+SETVOL={i % 100}")
                if i % 10 == 0:
                    p.send_signal(signal.SIGHUP)
                time.sleep(0.01)
            peer.send("AT+SETVOL=63")
            if not wait_until(lambda: sink_volume() == 63, 10) or p.poll() is not None:
                fail(f"reloads: the last command applies (status {p.poll()})")
        finally:
            if squat:
                squat.kill()
                squat.wait()
        if squat and squat.stdout.read():
            fail("reloads: another user bound the daemon's port")
        stop(p, "reloads")
        if peer_commands(out.name, "AT+SETVOL") != 301:
            fail(f"reloads: {peer_commands(out.name, 'AT+SETVOL')} of 301 commands reached it")


def peer_commands(out_path, word):
    """How many times the configured peer's packets printed by --json hold `word`."""
    import json
    n = 0
    with open(out_path) as f:
        for line in f:
            e = json.loads(line)
            if e.get("event") == "packet" and e.get("peer") == "127.0.0.1":
                n += e["text"].count(word)
    return n


def case_split_line():
    """The peer's line in two datagrams, a stranger's datagram between them (lines joined across
    datagrams: --line-end CRLF)."""
    with tempfile.NamedTemporaryFile(suffix=".out") as out:
        p, peer = start(["--json", "--line-end", "CRLF"], stdout=out)
        peer.send("AT+SETVOL=20")
        wait_until(lambda: sink_volume() == 20)
        stranger = Peer(peer.port, "127.0.0.9")
        for _ in range(20):
            peer.send(b"AT+VO")
            stranger.send(b"junk\r\n")
            peer.send(b"LUP\r\n")
            time.sleep(0.02)  # paced like a held key: the pacing is what is tested
        if not wait_until(lambda: sink_volume() == 60, 5):
            fail(f"split lines: 20 steps from 20 give 60, not {sink_volume()}")
        stop(p, "split line")
        if peer_commands(out.name, "AT+VOLUP") != 20:
            fail(f"split lines: {peer_commands(out.name, 'AT+VOLUP')} of 20 whole commands")


def case_rotating_flood():
    """Strangers on 127.0.0.2-250, several ports each; the peer's paced commands all apply."""
    crowd_py = os.path.join(os.path.dirname(os.path.abspath(__file__)), "udp_crowd.py")
    with tempfile.NamedTemporaryFile(suffix=".out") as out:
        p, peer = start(["--json"], stdout=out)
        crowd = [subprocess.Popen([sys.executable, crowd_py, str(peer.port), "AT+SETVOL=1" + "0" * n,
                                   "--ports", "2", "--seconds", "20"], stdout=subprocess.DEVNULL)
                 for n in (1, 600)]
        try:
            # The crowd is heard before the peer speaks.
            if not wait_until(lambda: b'"ignored"' in open(out.name, "rb").read(), 10):
                fail("rotating flood: the crowd's datagrams are summed up")
            for i in range(200):
                peer.send(f"AT+SETVOL={i % 100}")
                time.sleep(0.01)  # paced commands, as the peer sends them
            peer.send("AT+SETVOL=88")
            ok = wait_until(lambda: sink_volume() == 88, 10)
        finally:
            for c in crowd:
                c.kill()
                c.wait()
        if not ok:
            fail("rotating flood: the last command applies")
        stop(p, "rotating flood")
        got = peer_commands(out.name, "AT+SETVOL")
        if got != 201:
            fail(f"rotating flood: {got} of 201 commands of the peer reached it")


CASES = {name[5:]: f for name, f in sorted(globals().items()) if name.startswith("case_")}
for name in ONLY:
    if name not in CASES:
        sys.exit(f"no case '{name}'; the cases: {' '.join(CASES)}")
for name, f in CASES.items():
    if ONLY and name not in ONLY:
        continue
    t = time.monotonic()
    f()
    print(f"{name}: done in {time.monotonic() - t:.1f} s")
if FAILS:
    sys.exit(1)
print("qxvolumed in hostile surroundings: ok")
