"""What the phone-page tests share: a qxvolumed with --http started beside the private sound
server of scripts/with-pulse, the sink read with pactl, and plain HTTP requests over loopback."""
import http.client
import json
import os
import socket
import subprocess
import time


from daemon_kit import pactl, sink_volume, wait_until  # noqa: F401 (shared with the tests)


def sink_mute():
    return pactl("get-sink-mute", "@DEFAULT_SINK@").split(":")[1].strip() == "yes"


def free_port(kind=socket.SOCK_STREAM):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Daemon:
    """qxvolumed --http 127.0.0.1:0 --json; .url is the printed page address with its token."""

    def __init__(self, binary, *extra):
        if not os.environ.get("PULSE_SERVER"):
            raise SystemExit("run me under scripts/with-pulse")
        os.environ.pop("DISPLAY", None)
        os.environ.pop("WAYLAND_DISPLAY", None)
        self.udp_port = free_port(socket.SOCK_DGRAM)
        self.proc = subprocess.Popen(
            [binary, "--no-overlay", "--json", "--port", str(self.udp_port),
             "--http", "127.0.0.1:0", *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.url = None
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and self.url is None:
            line = self.proc.stdout.readline()
            if not line:
                raise SystemExit("qxvolumed ended: " + self.proc.stderr.read())
            event = json.loads(line)
            if event.get("event") == "http":
                self.url = event["url"]
        # Nobody reads the events from here on; the daemon's output queue takes care of that.
        self.host, rest = self.url.split("//")[1].split("/", 1)
        self.port = int(self.host.split(":")[1])
        self.token = rest.split("#t=")[1]

    def request(self, method, path, body=None, headers=None, token=True, source="127.0.0.1"):
        """(status, headers, parsed JSON or text) of one request on a fresh connection."""
        h = {"Host": self.host}
        if token:
            h["Authorization"] = "Bearer " + (self.token if token is True else token)
        h.update(headers or {})
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10,
                                          source_address=(source, 0))
        data = body if isinstance(body, (bytes, str)) or body is None else json.dumps(body)
        conn.request(method, path, body=data, headers=h)
        r = conn.getresponse()
        text = r.read().decode()
        conn.close()
        try:
            return r.status, dict(r.getheaders()), json.loads(text)
        except ValueError:
            return r.status, dict(r.getheaders()), text

    def udp(self, line):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.sendto(line.encode() + b"\r\n", ("127.0.0.1", self.udp_port))
        s.close()

    def stop(self):
        self.proc.terminate()
        try:
            return self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return -9


class EventStream:
    """A raw /api/events reader: the state events' JSON, in order."""

    def __init__(self, daemon):
        self.sock = socket.create_connection(("127.0.0.1", daemon.port), timeout=15)
        self.sock.sendall(("GET /api/events?t=%s HTTP/1.1\r\nHost: %s\r\n\r\n"
                           % (daemon.token, daemon.host)).encode())
        self.buf = b""

    def next_state(self, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            i = self.buf.find(b"event: state\ndata: ")
            if i >= 0:
                j = self.buf.find(b"\n", i + 19)
                if j >= 0:
                    state = json.loads(self.buf[i + 19:j])
                    self.buf = self.buf[j:]
                    return state
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            chunk = self.sock.recv(4096)
            if not chunk:
                return None
            self.buf += chunk
        return None

    def close(self):
        self.sock.close()
