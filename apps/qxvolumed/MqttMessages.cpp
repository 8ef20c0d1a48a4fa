#include "MqttMessages.h"

#include "apps/common/CommandLine.h"
#include "apps/common/EventOutput.h"

namespace {

// "KEY":VALUE pairs joined into one object.
String Object(std::initializer_list<std::pair<const char*, String>> fields) {
  String out = "{";
  for (const auto& [key, value] : fields)
    out += (out.size() > 1 ? "," : "") + JsonString(key) + ":" + value;
  return out + "}";
}

}  // namespace

std::vector<TMqttMessage> DiscoveryConfigs(const TMqttTarget& t, bool remove) {
  const String id = "qxvolumed_" + t.Node;
  const String device = Object({{"identifiers", "[" + JsonString(id) + "]"},
                                {"name", JsonString(t.Device.empty() ? t.Node : t.Device)},
                                {"manufacturer", JsonString("Qx developers")},
                                {"model", JsonString("qxvolumed")},
                                {"sw_version", JsonString(kQxVersion)}});
  const String availability = JsonString(t.Prefix + "/availability");
  const String volume = Object({{"name", JsonString("Volume")},
                                {"unique_id", JsonString(id + "_volume")},
                                {"state_topic", JsonString(t.Prefix + "/volume")},
                                {"command_topic", JsonString(t.Prefix + "/volume/set")},
                                {"availability_topic", availability},
                                {"min", "0"},
                                {"max", "100"},
                                {"step", "1"},
                                {"unit_of_measurement", JsonString("%")},
                                {"mode", JsonString("slider")},
                                {"icon", JsonString("mdi:volume-high")},
                                {"device", device}});
  const String mute = Object({{"name", JsonString("Mute")},
                              {"unique_id", JsonString(id + "_mute")},
                              {"state_topic", JsonString(t.Prefix + "/mute")},
                              {"command_topic", JsonString(t.Prefix + "/mute/set")},
                              {"availability_topic", availability},
                              {"payload_on", JsonString("ON")},
                              {"payload_off", JsonString("OFF")},
                              {"icon", JsonString("mdi:volume-off")},
                              {"device", device}});
  return {{t.HaPrefix + "/number/" + t.Node + "/volume/config", remove ? String() : volume},
          {t.HaPrefix + "/switch/" + t.Node + "/mute/config", remove ? String() : mute}};
}
