#!/usr/bin/env python3
"""qxvolumed's phone page in a real browser: Debian's chromium, headless, driven over its DevTools
protocol (python3-websocket; nothing is downloaded), against the private sound server of
scripts/with-pulse. The page shows the sink's volume; its slider, keys, + and -, and mute change
the sink; a pactl change shows without a reload; a wrong token shows the "not paired" view and
changes nothing; a page of another origin cannot steer the volume; at 360x740 nothing scrolls
sideways and every control is at least 44 px. With --screenshot FILE it also writes the page as
a phone shows it (docs/page.png is made this way).
  with-pulse qxvolumed_page.py QXVOLUMED [--screenshot FILE]"""
import base64
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from http_daemon import Daemon, pactl, sink_mute, sink_volume, wait_until

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
if CHROMIUM is None:
    print("SKIP: chromium is not installed (package chromium)")
    sys.exit(77)
try:
    import websocket
except ImportError:
    # Debian's package, for a python3 that is not Debian's own (a pyenv or venv one).
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import websocket
    except ImportError:
        print("SKIP: python3-websocket is not installed")
        sys.exit(77)

SHOT = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
FAILS = []


def check(ok, what):
    if not ok:
        FAILS.append(what)
        print("FAIL:", what, file=sys.stderr)


class Browser:
    """One headless chromium with its own profile; .page is a DevTools session on its tab."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="qx-chromium.")
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--user-data-dir=" + self.dir, "--remote-debugging-address=127.0.0.1",
             "--remote-debugging-port=0", "--remote-allow-origins=*", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.dir, "DevToolsActivePort")
        if not wait_until(lambda: os.path.exists(port_file) and open(port_file).read(), 60):
            raise SystemExit("chromium did not open its DevTools port")
        port = open(port_file).read().split()[0]
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60,
                                              suppress_origin=True)
        self.next_id = 0
        self.call("Page.enable")
        self.call("Runtime.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=360, height=740,
                  deviceScaleFactor=2, mobile=True)

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def eval(self, expression):
        r = self.call("Runtime.evaluate", expression=expression, awaitPromise=True,
                      returnByValue=True)
        return r["result"].get("value")

    def go(self, url):
        self.call("Page.navigate", url=url)
        wait_until(lambda: self.eval("document.readyState") == "complete", 30)

    def click(self, selector):
        box = self.eval("(() => { const r = document.querySelector(%r).getBoundingClientRect();"
                        " return [r.x + r.width / 2, r.y + r.height / 2]; })()" % selector)
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1], button="left",
                      clickCount=1)

    def key(self, name, code):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=name, code=name,
                      windowsVirtualKeyCode=code)

    def close(self):
        self.ws.close()
        self.proc.terminate()
        self.proc.wait(15)
        shutil.rmtree(self.dir, ignore_errors=True)


def shown(browser):
    """(volume, mute) as the page shows them, None while its controls are hidden."""
    return browser.eval("document.getElementById('remote').hidden ? null : "
                        "[Number(document.getElementById('vol').value),"
                        " document.getElementById('mute').getAttribute('aria-pressed') === 'true']")


d = Daemon(sys.argv[1])
b = Browser()
try:
    pactl("set-sink-volume", "@DEFAULT_SINK@", "30%")
    pactl("set-sink-mute", "@DEFAULT_SINK@", "0")
    wait_until(lambda: d.request("GET", "/api/state")[2] == {"volume": 30, "mute": False})
    b.go(d.url)
    check(wait_until(lambda: shown(b) == [30, False]), "the page shows the sink's volume")
    check(b.eval("location.hash") == "", "the token leaves the address bar")

    b.eval("document.getElementById('vol').focus()")
    for _ in range(3):
        b.key("ArrowRight", 39)
    check(wait_until(lambda: sink_volume() == 33), "the slider by keyboard: sink %d" % sink_volume())
    b.eval("(() => { const v = document.getElementById('vol'); v.value = 25;"
           " v.dispatchEvent(new Event('input', {bubbles: true})); })()")
    check(wait_until(lambda: sink_volume() == 25), "the slider moved: sink %d" % sink_volume())
    b.click("#up")
    check(wait_until(lambda: sink_volume() == 27), "+ steps up: sink %d" % sink_volume())
    b.click("#down")
    check(wait_until(lambda: sink_volume() == 25), "- steps down: sink %d" % sink_volume())
    b.click("#mute")
    check(wait_until(sink_mute), "mute mutes the sink")
    check(wait_until(lambda: "muted" in (b.eval("document.getElementById('status').textContent")
                                         or "")), "the live region says muted")
    b.click("#mute")
    check(wait_until(lambda: not sink_mute()), "mute again unmutes the sink")

    pactl("set-sink-volume", "@DEFAULT_SINK@", "37%")
    check(wait_until(lambda: shown(b) == [37, False]), "a pactl change shows without a reload")
    check(b.eval("document.querySelector('label[for=vol]').textContent") == "Volume"
          and b.eval("document.getElementById('status').getAttribute('aria-live')") == "polite",
          "a labelled slider and a live region")

    layout = b.eval("(() => { const out = {width: document.documentElement.scrollWidth,"
                    " view: innerWidth, small: []};"
                    " for (const e of document.querySelectorAll('button, input')) {"
                    "  const r = e.getBoundingClientRect();"
                    "  if (r.width < 44 || r.height < 44) out.small.push(e.id); }"
                    " return out; })()")
    check(layout["width"] <= layout["view"] == 360, "no horizontal scroll: %s" % layout)
    check(layout["small"] == [], "touch targets under 44 px: %s" % layout["small"])
    light = b.eval("getComputedStyle(document.body).backgroundColor")
    b.call("Emulation.setEmulatedMedia", features=[{"name": "prefers-color-scheme",
                                                     "value": "dark"}])
    dark = b.eval("getComputedStyle(document.body).backgroundColor")
    check(light != dark, "a dark scheme of its own: %s, %s" % (light, dark))
    b.call("Emulation.setEmulatedMedia", features=[{"name": "prefers-color-scheme",
                                                     "value": "light"}])
    if SHOT:
        png = b.call("Page.captureScreenshot", format="png")["data"]
        with open(SHOT, "wb") as f:
            f.write(base64.b64decode(png))

    # A page of another origin that knows the token still cannot steer the volume: its
    # preflighted request gets no CORS answer, its simple one is refused by the Origin check.
    class Attack(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = ("<script>const u = 'http://%s';"
                    "fetch(u + '/api/volume', {method: 'POST', headers: {Authorization:"
                    " 'Bearer %s', 'Content-Type': 'application/json'},"
                    " body: '{\"volume\":5}'}).then(() => document.title = 'read',"
                    " () => document.title = 'refused');"
                    "fetch(u + '/api/volume', {method: 'POST', mode: 'no-cors',"
                    " body: '{\"volume\":6}'});</script>" % (d.host, d.token)).encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    attacker = http.server.HTTPServer(("127.0.0.1", 0), Attack)
    threading.Thread(target=attacker.serve_forever, daemon=True).start()
    b.go("http://127.0.0.1:%d/" % attacker.server_address[1])
    check(wait_until(lambda: b.eval("document.title") == "refused"),
          "another origin's request is refused: " + str(b.eval("document.title")))
    time.sleep(1)  # the simple request has no answer to wait for; give it time to arrive
    check(sink_volume() == 37, "another origin changed the sink to %d" % sink_volume())
    attacker.shutdown()

    b.go("http://%s/#t=%s" % (d.host, "0" * 32))
    check(wait_until(lambda: b.eval("!document.getElementById('unpaired').hidden")),
          "a wrong token shows the not-paired view")
    check(b.eval("document.getElementById('remote').hidden"), "and hides the controls")
    check(sink_volume() == 37 and not sink_mute(), "a wrong token changes nothing")
finally:
    b.close()
    d.stop()
print("%d failures" % len(FAILS) if FAILS else "all passed")
sys.exit(1 if FAILS else 0)
