// What the MQTT bridge reads and writes: the commands' payloads and Home Assistant's discovery
// configs. No network here.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "MqttOptions.h"

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

struct TMqttMessage {
  String Topic, Payload;
};
// The retained discovery configs: the volume as a number (slider 0..100 %) and the mute switch,
// one device. Empty payloads with `remove`, which clear them.
std::vector<TMqttMessage> DiscoveryConfigs(const TMqttTarget& t, bool remove = false);
