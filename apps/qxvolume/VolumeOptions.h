// Command line of qxvolume.
#pragma once

#include <qx/framework/core/System.h>

struct TVolumeOptions {
  String Command;         // get, set, up, down, mute, follow, devices
  int32_t Volume = 0;     // set
  int32_t Step = 0;       // up, down: percent; 0 for the component's own step
  String MuteMode;        // mute: on, off, toggle
  bool ShowMute = false;  // get --mute
  bool Json = false;
  String Audio = "auto";  // auto, pulse, alsa
  String Device;          // --device: the component's AudioDevice
  String Display = "auto";
  String Output;
  bool Overlay = false;
  String Snapshot;  // with --overlay: a folder for the shown frames
};

// Reads argv. Returns -1 when the program goes on, otherwise the exit status once --help,
// --version or the error is printed.
int ParseVolumeOptions(int argc, char** argv, TVolumeOptions& out);
