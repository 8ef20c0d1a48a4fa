#include "EventOutput.h"

#include <cstdio>

#include "OutputQueue.h"

String Visible(const String& s) {
  String out;
  for (unsigned char c : s) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c < 32 || c == 127)
      out += "\\x" + IntToHex(c, 2);
    else
      out += static_cast<char>(c);
  }
  return out;
}

String JsonPort(const String& port) {
  // Ports are numbers in every event; anything else (never from a socket) is null.
  const bool digits =
      !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == String::npos;
  return digits ? IntToStr(std::stoi(port)) : String("null");
}

String JsonString(const String& s) {
  String out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 32 || c == 127)
          out += "\\u00" + IntToHex(c, 2);
        else
          out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void Emit(const String& line) {
  OutputQueue::Push(line);
}

void TEventPrinter::Status(bool active, int32_t error, const String& desc, const String& ip,
                           int port) {
  const bool bound = active && port != 0;
  if (FJson)
    Emit(String("{\"event\":\"status\",\"active\":") + (active ? "true" : "false") +
         ",\"error\":" + IntToStr(error) + ",\"desc\":" + JsonString(desc) +
         (bound ? ",\"ip\":" + JsonString(ip) + ",\"port\":" + IntToStr(port) : String()) + "}");
  else if (error != 0)
    Emit(String("status: ") + (active ? "active" : "inactive") + " (error " + IntToStr(error) +
         ": " + desc + ")");
  else
    Emit(String("status: ") + (active ? "active" : "inactive") +
         (bound ? " on " + ip + ":" + IntToStr(port) : String()));
}

void TEventPrinter::Packet(const char* kind, const String& text, const String& hex,
                           const String& peer, const String& port) {
  if (FJson)
    Emit(String("{\"event\":\"") + kind + "\",\"text\":" + JsonString(text) + ",\"hex\":" +
         JsonString(hex) + ",\"peer\":" + JsonString(peer) + ",\"port\":" + JsonPort(port) + "}");
  else
    Emit(String(kind) + " from " + peer + ":" + port + ": \"" + Visible(text) + "\"  " + hex);
}

void TEventPrinter::Audio(int32_t volume, bool mute) {
  FAudio.Report(volume, mute);
}

void TEventPrinter::PrintAudio(int32_t volume, bool mute) {
  if (FJson)
    Emit("{\"event\":\"audio\",\"volume\":" + IntToStr(volume) +
         ",\"mute\":" + (mute ? "true" : "false") + "}");
  else
    Emit("audio: volume " + IntToStr(volume) + (mute ? " (muted)" : ""));
}

void TEventPrinter::Mqtt(const char* state, const String& broker, const String& detail) {
  if (FJson)
    Emit(String("{\"event\":\"mqtt\",\"state\":\"") + state +
         "\",\"broker\":" + JsonString(broker) + ",\"detail\":" + JsonString(detail) + "}");
  else
    Emit(String("mqtt: ") + state + " " + broker + (detail.empty() ? String() : ": " + detail));
}

void TEventPrinter::Ignored(const String& peer, size_t packets, size_t bytes, double seconds) {
  char span[32];
  std::snprintf(span, sizeof span, "%.1f", seconds);
  if (FJson)
    Emit("{\"event\":\"ignored\",\"peer\":" + JsonString(peer) +
         ",\"packets\":" + std::to_string(packets) + ",\"bytes\":" + std::to_string(bytes) +
         ",\"seconds\":" + span + "}");
  else
    Emit("ignored: " + std::to_string(packets) + (packets == 1 ? " packet, " : " packets, ") +
         std::to_string(bytes) + " bytes from " + peer + " in " + span + " s");
}

void TEventPrinter::Dropped(const String& peer, const String& port, size_t lines, size_t bytes,
                            const String& reason) {
  // 0.0.0.0 sums up the senders past the most the receive thread tells apart.
  const bool others = peer == "0.0.0.0";
  if (FJson)
    Emit("{\"event\":\"ignored\",\"peer\":" + JsonString(others ? "other senders" : peer) +
         (others ? String() : ",\"port\":" + JsonPort(port)) +
         ",\"lines\":" + std::to_string(lines) + ",\"bytes\":" + std::to_string(bytes) +
         ",\"reason\":" + JsonString(reason) + "}");
  else
    Emit("ignored: " + std::to_string(lines) +
         (lines == 1 ? " unfinished line, " : " unfinished lines, ") + std::to_string(bytes) +
         " bytes from " + (others ? String("other senders") : peer + ":" + port) + ": " + reason);
}

void TEventPrinter::Display(const String& why) {
  const size_t colon = why.find(':');
  const String kind = why.substr(0, colon);
  const String reason = colon == String::npos ? String() : why.substr(colon + 1);
  if (FJson)
    Emit("{\"event\":\"display\",\"backend\":" + JsonString(kind) + ",\"why\":" +
         JsonString(reason.substr(reason.find_first_not_of(' ') == String::npos
                                      ? reason.size()
                                      : reason.find_first_not_of(' '))) +
         "}");
  else
    Emit("display: " + why);
}
