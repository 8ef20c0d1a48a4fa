#include "MqttCommand.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <qx/framework/core/System.h>

namespace {

std::string_view Trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<TMqttCommand> ParseVolumeCommand(std::string_view payload) {
  const std::string_view s = Trimmed(payload);
  // A number is short; a long payload is no number whatever it holds.
  if (s.empty() || s.size() > 32) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return TMqttCommand{TMqttAction::SetVolume,
                      static_cast<int32_t>(Round(std::clamp(value, 0.0, 100.0)))};
}

std::optional<TMqttCommand> ParseMuteCommand(std::string_view payload) {
  const std::string_view s = Trimmed(payload);
  if (SameText(s, "ON")) return TMqttCommand{TMqttAction::MuteOn};
  if (SameText(s, "OFF")) return TMqttCommand{TMqttAction::MuteOff};
  if (SameText(s, "TOGGLE")) return TMqttCommand{TMqttAction::MuteToggle};
  return std::nullopt;
}
