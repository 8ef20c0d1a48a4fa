// Command line of qxoverlay.
#pragma once

#include <optional>
#include <vector>

#include <qx/framework/ui/Desktop.h>

struct TOverlayOptions {
  int32_t Volume = 0;
  bool HasVolume = false;
  std::optional<String> Device;  // --device: the volume and mute read from this device
  bool Mute = false;
  TAlign Align = alBottom;
  TVirtualDesktop Desktop;
  bool DesktopGiven = false;
  bool WiFi = false;
  TColor BarsColor = clYellow;
  TColor DotsColor = clWhite;
  String Png;
  bool Show = false;
  String Display = "auto";
  String Output;
};

// Reads argv. Returns -1 when the program goes on, otherwise the exit status once --help,
// --version or the error is printed.
int ParseOverlayOptions(int argc, char** argv, TOverlayOptions& out);
// "RRGGBB" (optionally with a leading '#') as a colour.
bool ParseRgb(const String& text, TColor& c);
