// The sound server's sinks and sources as they are now, for choosing a device by name (the
// identifiers IMMDeviceEnumerator::GetDevice takes). A one-off query on a connection of its own.
#pragma once

#include <chrono>
#include <vector>

#include <qx/framework/core/System.h>

struct TAudioDeviceInfo {
  String Name;  // as `pactl list short sinks` prints it
  String Description;
  bool Source = false;   // a capture device
  bool Monitor = false;  // a source recording a sink's output
  bool Default = false;  // the server's default sink or source
  int32_t Volume = 0;    // percent, the loudest channel
  bool Mute = false;
};

// Sinks first, then sources, each in the server's order. False (and error set) when no server
// answers within timeout.
bool ListAudioDevices(std::vector<TAudioDeviceInfo>& devices, String& error,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
