// What the MQTT bridge writes besides the state: Home Assistant's discovery configs.
#pragma once

#include <vector>

#include "MqttCommand.h"
#include "MqttOptions.h"

struct TMqttMessage {
  String Topic, Payload;
};
// The retained discovery configs: the volume as a number (slider 0..100 %) and the mute switch,
// one device. Empty payloads with `remove`, which clear them.
std::vector<TMqttMessage> DiscoveryConfigs(const TMqttTarget& t, bool remove = false);
