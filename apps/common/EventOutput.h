// How the command-line programs print events: one human-readable line each, or with --json one
// JSON object per line, each written as it happens through the output queue (OutputQueue.h), so
// that a slow or vanished reader never holds the program up.
#pragma once

#include <qx/framework/core/System.h>

#include "AudioSettler.h"

// Text for a terminal: printable as is, control bytes, quotes and backslashes escaped.
String Visible(const String& s);
// A JSON string literal, quotes included.
String JsonString(const String& s);
// A port as a JSON number (null for anything that is not one).
String JsonPort(const String& port);
// Queues the line and a line feed for standard output.
void Emit(const String& line);

class TEventPrinter {
 public:
  explicit TEventPrinter(bool json)
      : FJson(json), FAudio([this](int32_t v, bool m) { PrintAudio(v, m); }) {}
  bool Json() const { return FJson; }
  // With a bound port (active, port not 0) the address is printed too: after a bind to port 0
  // it is the only way to know it.
  void Status(bool active, int32_t error, const String& desc, const String& ip = String(),
              int port = 0);
  // kind: "packet" or "reply".
  void Packet(const char* kind, const String& text, const String& hex, const String& peer,
              const String& port);
  // One line per change (TAudioSettler).
  void Audio(int32_t volume, bool mute);
  // Where the overlay goes and why, as the window back end said it ("wayland: ...").
  void Display(const String& why);
  // Packets ignored from one sender (strangers, non-commands), summed up over `seconds`.
  void Ignored(const String& peer, size_t packets, size_t bytes, double seconds);
  // The MQTT bridge at `broker` (host:port): `state` "connected", "disconnected" (detail: the
  // reason) or "dropped" (detail: the command that was not obeyed, and why).
  void Mqtt(const char* state, const String& broker, const String& detail);
  // Unfinished lines of one sender that the UDP component dropped, and why.
  void Dropped(const String& peer, const String& port, size_t lines, size_t bytes,
               const String& reason);

 private:
  void PrintAudio(int32_t volume, bool mute);

  bool FJson;
  TAudioSettler FAudio;
};
