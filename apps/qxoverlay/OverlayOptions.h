// Command line of qxoverlay.
#pragma once

#include <optional>
#include <vector>

#include <qx/framework/ui/Desktop.h>

struct TOverlayOptions {
  int32_t Volume = 0;
  bool HasVolume = false;
  bool Mute = false;
  TAlign Align = alBottom;
  TVirtualDesktop Desktop;
  bool DesktopGiven = false;
  bool WiFi = false;
  TColor BarsColor = clYellow;
  TColor DotsColor = clWhite;
  String Png;
  bool Show = false;
  bool Help = false;
};

// Parses the arguments (without the program name). Returns the error text, empty when fine.
String ParseOverlayOptions(const std::vector<String>& args, TOverlayOptions& out);
// "RRGGBB" (optionally with a leading '#') as a colour.
bool ParseRgb(const String& text, TColor& c);

extern const char* const kOverlayUsage;
