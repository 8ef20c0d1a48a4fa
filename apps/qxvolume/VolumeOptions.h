// Command line of qxvolume.
#pragma once

#include <vector>

#include <qx/framework/core/System.h>

struct TVolumeOptions {
  String Command;         // get, set, up, down, mute, follow
  int32_t Volume = 0;     // set
  String MuteMode;        // mute: on, off, toggle
  bool ShowMute = false;  // get --mute
  bool Json = false;
  String Audio = "auto";  // auto, pulse, alsa
  bool Overlay = false;
  String Snapshot;  // with --overlay: a folder for the shown frames
  bool Help = false;
};

// Parses the arguments (without the program name). Returns the error text, empty when fine.
String ParseVolumeOptions(const std::vector<String>& args, TVolumeOptions& out);

extern const char* const kVolumeUsage;
