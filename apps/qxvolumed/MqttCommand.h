// The MQTT bridge's commands as they come from the broker: payloads anyone on the broker may
// send, read without trust.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

enum class TMqttAction { SetVolume, MuteOn, MuteOff, MuteToggle };

struct TMqttCommand {
  TMqttAction Action;
  int32_t Volume = 0;  // SetVolume: 0..100
};

// PREFIX/volume/set: a number, rounded (halves to even) and clamped to 0..100. Nothing for
// anything else.
std::optional<TMqttCommand> ParseVolumeCommand(std::string_view payload);
// PREFIX/mute/set: ON, OFF or TOGGLE (any case). Nothing for anything else.
std::optional<TMqttCommand> ParseMuteCommand(std::string_view payload);
