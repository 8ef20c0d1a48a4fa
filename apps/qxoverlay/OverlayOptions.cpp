#include "OverlayOptions.h"

const char* const kOverlayUsage =
    "usage: qxoverlay --volume N [--mute] [--align top|bottom] [--screen WxH]\n"
    "                 [--taskbar top|bottom|left|right:SIZE|none] [--wifi]\n"
    "                 [--bars-color RRGGBB] [--dots-color RRGGBB] (--png FILE | --show)\n"
    "Renders the volume overlay as the form shows it on that desktop (transparent where the\n"
    "key colour is) and writes it as PNG; --show shows it on the display for its hold and fade.\n";

bool ParseRgb(const String& text, TColor& c) {
  String t = !text.empty() && text[0] == '#' ? text.substr(1) : text;
  if (t.size() != 6) return false;
  uint32_t v = 0;
  for (char ch : t) {
    int d;
    if (ch >= '0' && ch <= '9') {
      d = ch - '0';
    } else if (ch >= 'a' && ch <= 'f') {
      d = ch - 'a' + 10;
    } else if (ch >= 'A' && ch <= 'F') {
      d = ch - 'A' + 10;
    } else {
      return false;
    }
    v = v * 16 + d;
  }
  c = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  return true;
}

String ParseOverlayOptions(const std::vector<String>& args, TOverlayOptions& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const String& a = args[i];
    auto value = [&](String& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    String v;
    if (a == "--help" || a == "-h") {
      out.Help = true;
    } else if (a == "--mute") {
      out.Mute = true;
    } else if (a == "--wifi") {
      out.WiFi = true;
    } else if (a == "--show") {
      out.Show = true;
    } else if (a == "--volume") {
      if (!value(v) || !TryStrToInt(v, out.Volume)) return "--volume needs a whole number";
      out.HasVolume = true;
    } else if (a == "--align") {
      if (!value(v)) return "--align needs top or bottom";
      if (SameText(v, "top")) {
        out.Align = alTop;
      } else if (SameText(v, "bottom")) {
        out.Align = alBottom;
      } else {
        return "--align needs top or bottom";
      }
    } else if (a == "--screen") {
      if (!value(v) || !ParseScreenSize(v, out.Desktop)) return "--screen needs WIDTHxHEIGHT";
      out.DesktopGiven = true;
    } else if (a == "--taskbar") {
      if (!value(v) || !ParseTaskbar(v, out.Desktop))
        return "--taskbar needs EDGE:SIZE (top, bottom, left, right) or none";
      out.DesktopGiven = true;
    } else if (a == "--bars-color") {
      if (!value(v) || !ParseRgb(v, out.BarsColor)) return "--bars-color needs RRGGBB";
    } else if (a == "--dots-color") {
      if (!value(v) || !ParseRgb(v, out.DotsColor)) return "--dots-color needs RRGGBB";
    } else if (a == "--png") {
      if (!value(v) || v.empty()) return "--png needs a file name";
      out.Png = v;
    } else {
      return "unknown argument: " + a;
    }
  }
  if (out.Help) return "";
  if (!out.HasVolume) return "--volume is required";
  if (out.Png.empty() && !out.Show) return "give --png FILE or --show";
  return "";
}
