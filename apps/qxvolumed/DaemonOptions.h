// Command line of qxvolumed: what overrides the loaded form, and how the daemon runs.
#pragma once

#include <optional>

#include <qx/framework/core/System.h>
#include "MqttOptions.h"

enum class TAudioChoice { Auto, Pulse, Alsa };

struct TDaemonOptions {
  // Overrides, applied after the form is loaded; unset ones leave the form's values.
  std::optional<String> LocalIP;   // --ip: the UDP component's UDPLocalIP
  std::optional<String> RxPort;    // --port: the volume component's UdpRxPort
  std::optional<String> RemoteIP;  // --remote-ip: UdpRemoteIP ("any": empty, needs a key)
  String KeyFile;                  // --key-file FILE: commands must be signed by its key
  String NewKey;                   // --new-key FILE: write a fresh key there and exit
  std::optional<String> LineEnd;   // --line-end: UDPLineEndRx
  std::optional<bool> AlignTop;    // --align top|bottom
  std::optional<String> Device;    // --device NAME: the volume component's AudioDevice
  String Form;                     // --form FILE; empty: the built-in form
  String Snapshot;                 // --snapshot DIR
  int SnapshotKeep = 100;          // --snapshot-keep N: the last N frames stay (0: all)
  String Display = "auto";         // --display auto|wayland|x11|none
  String Output;                   // --output NAME (a Wayland output)
  TAudioChoice Audio = TAudioChoice::Auto;
  bool NoOverlay = false;
  bool Json = false;
  bool Verbose = false;
  bool PrintForm = false;
  TMqttOptions Mqtt;
  // The phone page (--http [ADDR:]PORT); off when HttpPort is unset.
  String HttpAddress = "127.0.0.1";
  std::optional<int> HttpPort;
  String HttpTokenFile, HttpCert, HttpKey;
};

// Reads argv. Returns -1 when the daemon goes on, otherwise the exit status once --help,
// --version or the error is printed.
int ParseDaemonOptions(int argc, char** argv, TDaemonOptions& out);
