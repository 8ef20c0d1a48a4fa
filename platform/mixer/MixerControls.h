// The ALSA mixer devices' volume controls as they are now, named as mixerGetIDByName takes them
// ("default/Master", "hw:0/PCM", "hw:0/Capture"), for choosing one.
#pragma once

#include <vector>

#include <qx/framework/core/System.h>

struct TMixerControlInfo {
  String Name;           // DEVICE/CONTROL
  String CardName;       // the card's long name; for "default", the device's own word
  bool Capture = false;  // steered on its capture side
};

// The "default" device's controls first, then each card's ("hw:N").
std::vector<TMixerControlInfo> ListMixerControls();
