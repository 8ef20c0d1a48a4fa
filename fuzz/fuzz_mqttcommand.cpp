// The MQTT bridge's command payloads, which anyone on the broker may send: a volume is always
// 0..100 and comes only from a number that strtod reads alike; a mute command only from ON, OFF
// or TOGGLE.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apps/qxvolumed/MqttCommand.h"

namespace {

[[noreturn]] void Finding(const char* what, const std::string& input) {
  std::fprintf(stderr, "%s: '%s'\n", what, input.c_str());
  std::abort();
}

std::string Trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string t = Trimmed(input);
  if (const auto c = ParseVolumeCommand(input)) {
    if (c->Action != TMqttAction::SetVolume || c->Volume < 0 || c->Volume > 100)
      Finding("volume out of range", input);
    char* end = nullptr;
    const double model = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !std::isfinite(model)) Finding("not a number", input);
    const double clamped = model < 0 ? 0 : model > 100 ? 100 : model;
    if (std::fabs(clamped - c->Volume) > 0.5) Finding("a volume strtod reads otherwise", input);
  }
  if (const auto c = ParseMuteCommand(input)) {
    std::string u;
    for (char ch : t) u += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    const bool named = (u == "ON" && c->Action == TMqttAction::MuteOn) ||
                       (u == "OFF" && c->Action == TMqttAction::MuteOff) ||
                       (u == "TOGGLE" && c->Action == TMqttAction::MuteToggle);
    if (!named) Finding("a mute command from another word", input);
  }
  return 0;
}
