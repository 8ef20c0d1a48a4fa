// The page the daemon serves: everything inline (no file to install, nothing fetched), sized for
// a phone held upright, in the system's light or dark scheme. It takes the pairing token from the
// address it was opened with (#t=...), keeps it, and follows the state through /api/events.
#include "HttpBridge.h"

const char* const kHttpPage = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<title>Volume</title>
<style>
:root { --bg: #f3f4f7; --fg: #15171c; --card: #fff; --accent: #0b5fd1; --soft: #5b6270;
  --track: #d5d9e1; }
@media (prefers-color-scheme: dark) {
  :root { --bg: #101217; --fg: #eceef3; --card: #1c1f27; --accent: #6aa8ff; --soft: #a9b0bd;
    --track: #3a3f4b; }
}
* { box-sizing: border-box; }
html, body { margin: 0; background: var(--bg); color: var(--fg); overflow-x: hidden;
  font: 18px/1.4 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
main { max-width: 480px; margin: 0 auto; padding: 16px; }
h1 { font-size: 1.25rem; margin: 4px 0 12px; }
h2 { font-size: 1.2rem; margin: 0 0 8px; }
.card { background: var(--card); border-radius: 16px; padding: 20px 16px; }
label { display: block; font-weight: 600; }
#level { font-size: 3.2rem; font-weight: 700; text-align: center; margin: 4px 0 8px;
  font-variant-numeric: tabular-nums; }
#level.muted { color: var(--soft); text-decoration: line-through; }
input[type=range] { display: block; width: 100%; height: 48px; margin: 0; background: transparent;
  -webkit-appearance: none; appearance: none; --pct: 0%; }
input[type=range]::-webkit-slider-runnable-track { height: 14px; border-radius: 7px;
  background: linear-gradient(to right, var(--accent) var(--pct), var(--track) var(--pct)); }
input[type=range]::-webkit-slider-thumb { -webkit-appearance: none; width: 40px; height: 40px;
  margin-top: -13px; border-radius: 50%; background: var(--accent); border: 4px solid var(--card);
  box-shadow: 0 0 0 2px var(--accent); }
input[type=range]::-moz-range-track { height: 14px; border-radius: 7px; background: var(--track); }
input[type=range]::-moz-range-progress { height: 14px; border-radius: 7px; background: var(--accent); }
input[type=range]::-moz-range-thumb { width: 32px; height: 32px; border-radius: 50%;
  background: var(--accent); border: 4px solid var(--card); box-shadow: 0 0 0 2px var(--accent); }
.row { display: flex; gap: 12px; margin-top: 16px; }
button { flex: 1; min-width: 48px; min-height: 56px; font: inherit; font-size: 1.5rem; font-weight: 600;
  color: var(--fg); background: transparent; border: 2px solid var(--accent); border-radius: 12px; }
button#mute { font-size: 1.1rem; }
button[aria-pressed=true] { background: var(--accent); color: var(--card); }
button:active { transform: scale(0.97); }
:focus-visible { outline: 3px solid var(--accent); outline-offset: 3px; }
#status { color: var(--soft); min-height: 1.4em; margin: 14px 0 0; text-align: center; }
#offline { color: var(--soft); text-align: center; }
[hidden] { display: none !important; }
</style>
</head>
<body>
<main>
<h1>Volume remote</h1>
<section id="remote" class="card" hidden>
  <label for="vol">Volume</label>
  <div id="level" aria-hidden="true">&ndash;</div>
  <input id="vol" type="range" min="0" max="100" step="1" value="0">
  <div class="row">
    <button id="down" type="button" aria-label="Volume down">&minus;</button>
    <button id="mute" type="button" aria-pressed="false">Mute</button>
    <button id="up" type="button" aria-label="Volume up">+</button>
  </div>
  <p id="status" role="status" aria-live="polite"></p>
</section>
<section id="unpaired" class="card" hidden>
  <h2>Not paired</h2>
  <p>This page needs the pairing code of the computer it steers. Scan the QR code that
  qxvolumed prints when it starts, or open the address it prints with the code after #t=.</p>
</section>
<p id="offline" role="status" hidden>Connection lost; trying again&hellip;</p>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
const KEY = "qxvolume-token";
let token = null;
const fromAddress = /[#&]t=([A-Za-z0-9._~-]+)/.exec(location.hash);
if (fromAddress) {
  token = fromAddress[1];
  try { localStorage.setItem(KEY, token); } catch (e) {}
  // The code stays out of the history and of a bookmark.
  history.replaceState(null, "", location.pathname);
} else {
  try { token = localStorage.getItem(KEY); } catch (e) {}
}

let events = null, dragging = false, paired = true;
function show(which) {
  $("remote").hidden = which !== "remote";
  $("unpaired").hidden = which !== "unpaired";
}
function setSlider(v) {
  $("vol").value = v;
  $("vol").style.setProperty("--pct", v + "%");
}
// While the slider is in use (held, a request on its way, or a key pressed just now), the
// pushed state does not move it under the user's hand; it catches up once the user stops.
let latest = null, lastInput = -Infinity, catchUp = 0;
function sliderInUse() {
  return dragging || busy || wanted !== null || performance.now() - lastInput < 500;
}
function render(s) {
  latest = s;
  $("level").textContent = s.volume + " %";
  $("level").classList.toggle("muted", s.mute);
  if (!sliderInUse()) setSlider(s.volume);
  $("vol").setAttribute("aria-valuetext", s.volume + " percent" + (s.mute ? ", muted" : ""));
  $("mute").setAttribute("aria-pressed", s.mute ? "true" : "false");
  $("mute").textContent = s.mute ? "Unmute" : "Mute";
  $("status").textContent = "Volume " + s.volume + " %" + (s.mute ? ", muted" : "");
  show("remote");
}
function unpaired() {
  paired = false;
  if (events) { events.close(); events = null; }
  $("offline").hidden = true;
  show("unpaired");
}
async function call(path, body) {
  const headers = { "Authorization": "Bearer " + token };
  if (body) headers["Content-Type"] = "application/json";
  const r = await fetch(path, { method: body ? "POST" : "GET", headers, cache: "no-store",
                                body: body ? JSON.stringify(body) : undefined });
  if (r.status === 401) { unpaired(); return null; }
  return r.ok ? r.json() : null;
}
function command(path, body) {
  call(path, body).then((s) => s && render(s)).catch(() => { $("offline").hidden = false; });
}

// The slider sends while it moves, one request at a time: the latest position goes next.
let wanted = null, busy = false;
async function sendVolume() {
  if (busy || wanted === null) return;
  busy = true;
  const v = wanted;
  wanted = null;
  const s = await call("/api/volume", { volume: v }).catch(() => null);
  busy = false;
  if (s) render(s);
  sendVolume();
}
$("vol").addEventListener("input", (e) => {
  wanted = Number(e.target.value);
  lastInput = performance.now();
  clearTimeout(catchUp);
  catchUp = setTimeout(function settle() {
    if (sliderInUse()) catchUp = setTimeout(settle, 200);
    else if (latest) setSlider(latest.volume);
  }, 600);
  $("vol").style.setProperty("--pct", wanted + "%");
  $("level").textContent = wanted + " %";
  sendVolume();
});
$("vol").addEventListener("pointerdown", () => { dragging = true; });
addEventListener("pointerup", () => { dragging = false; });
addEventListener("pointercancel", () => { dragging = false; });
$("up").addEventListener("click", () => command("/api/volume", { step: 1 }));
$("down").addEventListener("click", () => command("/api/volume", { step: -1 }));
$("mute").addEventListener("click", () => command("/api/mute", { mute: "toggle" }));

function listen() {
  events = new EventSource("/api/events?t=" + encodeURIComponent(token));
  events.addEventListener("state", (e) => {
    $("offline").hidden = true;
    render(JSON.parse(e.data));
  });
  events.onerror = () => {
    if (!paired) return;
    $("offline").hidden = false;
    // A refused stream is not retried by the browser: find out why, and start it again.
    if (events.readyState === EventSource.CLOSED) {
      events = null;
      setTimeout(() => call("/api/state").then((s) => { if (s) { render(s); listen(); } })
                                         .catch(() => setTimeout(listen, 2000)), 2000);
    }
  };
}
if (!token) {
  unpaired();
} else {
  call("/api/state").then((s) => { if (s) { render(s); listen(); } })
                    .catch(() => { $("offline").hidden = false; listen(); });
}
</script>
</body>
</html>
)PAGE";
