#include "OverlayOptions.h"

#include "apps/common/CommandLine.h"

namespace {

const char* const kUsage =
    "Usage: qxoverlay --volume N [OPTION]... --png FILE\n"
    "  or:  qxoverlay --volume N [OPTION]... --show\n"
    "Renders the volume overlay as the form shows it on that desktop (transparent where the\n"
    "key colour is) and writes it as PNG; --show shows it on the display for its hold and fade.\n"
    "\n"
    "Options:\n"
    "  --volume N                 the volume shown, in percent\n"
    "  --mute                     shown muted\n"
    "  --wifi                     with the network badge\n"
    "  --align top|bottom         the screen edge\n"
    "  --screen WxH               the virtual desktop's size (with --png)\n"
    "  --taskbar EDGE:SIZE|none   the virtual desktop's taskbar (EDGE: top, bottom, left, right)\n"
    "  --bars-color RRGGBB        the colour of the bars\n"
    "  --dots-color RRGGBB        the colour of the dots\n"
    "  --png FILE                 write the frame as PNG\n"
    "  --show                     show it on the display\n"
    "  --display KIND             where --show puts it: auto, wayland or x11\n"
    "  --output NAME              the Wayland output\n"
    "  -h, --help                 this text\n"
    "  -V, --version              the version\n"
    "\n"
    "Exit status: 0 on success, 1 when the display or the file cannot be used, 2 for a bad\n"
    "command line.\n";

}  // namespace

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

int ParseOverlayOptions(int argc, char** argv, TOverlayOptions& out) {
  TCommandLine cl("qxoverlay", kUsage);
  auto check = [](bool ok, const char* error) { return ok ? String() : String(error); };
  cl.Flag("mute", out.Mute)
      .Flag("wifi", out.WiFi)
      .Flag("show", out.Show)
      .Value("volume",
             [&](const String& v) {
               out.HasVolume = TryStrToInt(v, out.Volume);
               return check(out.HasVolume, "--volume needs a whole number");
             })
      .Value("align",
             [&](const String& v) {
               out.Align = SameText(v, "top") ? alTop : alBottom;
               return check(SameText(v, "top") || SameText(v, "bottom"),
                            "--align needs top or bottom");
             })
      .Value("screen",
             [&](const String& v) {
               out.DesktopGiven = true;
               return check(ParseScreenSize(v, out.Desktop), "--screen needs WIDTHxHEIGHT");
             })
      .Value("taskbar",
             [&](const String& v) {
               out.DesktopGiven = true;
               return check(ParseTaskbar(v, out.Desktop),
                            "--taskbar needs EDGE:SIZE (top, bottom, left, right) or none");
             })
      .Value("bars-color",
             [&](const String& v) {
               return check(ParseRgb(v, out.BarsColor), "--bars-color needs RRGGBB");
             })
      .Value("dots-color",
             [&](const String& v) {
               return check(ParseRgb(v, out.DotsColor), "--dots-color needs RRGGBB");
             })
      .Value("png",
             [&](const String& v) {
               out.Png = v;
               return check(!v.empty(), "--png needs a file name");
             })
      .DisplayOptions(out.Display, out.Output);
  if (int status = cl.Parse(argc, argv); status >= 0) return status;
  if (!cl.Operands().empty())
    return cl.UsageError("unexpected argument '" + cl.Operands()[0] + "'");
  if (!out.HasVolume) return cl.UsageError("--volume is required");
  if (out.Png.empty() && !out.Show) return cl.UsageError("give --png FILE or --show");
  return -1;
}
