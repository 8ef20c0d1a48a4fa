// Command line of qxvolumed: what overrides the loaded form, and how the daemon runs.
#pragma once

#include <optional>
#include <vector>

#include <qx/framework/core/System.h>

enum class TAudioChoice { Auto, Pulse, Alsa };

struct TDaemonOptions {
  // Overrides, applied after the form is loaded; unset ones leave the form's values.
  std::optional<String> LocalIP;   // --ip: the UDP component's UDPLocalIP
  std::optional<String> RxPort;    // --port: the volume component's UdpRxPort
  std::optional<String> RemoteIP;  // --remote-ip: UdpRemoteIP
  std::optional<String> LineEnd;   // --line-end: UDPLineEndRx
  std::optional<bool> AlignTop;    // --align top|bottom
  String Form;                     // --form FILE; empty: the built-in form
  String Snapshot;                 // --snapshot DIR
  TAudioChoice Audio = TAudioChoice::Auto;
  bool NoOverlay = false;
  bool Json = false;
  bool PrintForm = false;
  bool Help = false;
};

// Parses the arguments (without the program name). Returns the error text, empty when fine.
String ParseDaemonOptions(const std::vector<String>& args, TDaemonOptions& out);

extern const char* const kDaemonUsage;
