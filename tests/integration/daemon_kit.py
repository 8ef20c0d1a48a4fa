"""What the daemon's Python tests share: failures gathered, a free loopback port, the private
sound server's volume, and waiting on a condition with a deadline."""
import socket
import subprocess
import sys
import time

FAILS = []


def fail(what):
    FAILS.append(what)
    print("FAIL:", what, file=sys.stderr)


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def pactl(*args):
    return subprocess.run(["pactl", *args], capture_output=True, text=True, check=True).stdout


def sink_volume():
    out = pactl("get-sink-volume", "@DEFAULT_SINK@")
    return int(out.split("/")[1].strip().rstrip("%"))


def wait_until(cond, seconds=15.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if cond():
            return True
        time.sleep(0.05)
    return False
