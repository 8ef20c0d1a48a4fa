// How the command-line programs print events: one human-readable line each, or with --json one
// JSON object per line, flushed at once so that a pipe sees every event as it happens.
#pragma once

#include <qx/framework/core/System.h>

// Text for a terminal: printable as is, control bytes, quotes and backslashes escaped.
String Visible(const String& s);
// A JSON string literal, quotes included.
String JsonString(const String& s);
// Writes the line and a line feed to standard output and flushes it.
void Emit(const String& line);

class TEventPrinter {
 public:
  explicit TEventPrinter(bool json) : FJson(json) {}
  bool Json() const { return FJson; }
  // With a bound port (active, port not 0) the address is printed too: after a bind to port 0
  // it is the only way to know it.
  void Status(bool active, int32_t error, const String& desc, const String& ip = String(),
              int port = 0);
  // kind: "packet" or "reply".
  void Packet(const char* kind, const String& text, const String& hex, const String& peer,
              const String& port);
  void Audio(int32_t volume, bool mute);

 private:
  bool FJson;
};
