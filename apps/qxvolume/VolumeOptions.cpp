#include "VolumeOptions.h"

const char* const kVolumeUsage =
    "usage: qxvolume [options] COMMAND\n"
    "  get [--mute]          print the volume in percent (with --mute, the mute state too)\n"
    "  set N                 set the volume to N percent (0..100)\n"
    "  up | down             one step up or down\n"
    "  mute on|off|toggle    mute, unmute or toggle\n"
    "  follow                print every change made by any program until interrupted\n"
    "options:\n"
    "  --json                one JSON object per line: {\"event\":\"audio\",\"volume\":40,"
    "\"mute\":false}\n"
    "  --audio auto|pulse|alsa   the sound server (pulse) or the ALSA mixer (alsa, no mute);\n"
    "                        auto takes the sound server when one answers\n"
    "  --overlay             show the volume overlay on the display\n"
    "  --snapshot DIR        with --overlay: no display, each shown frame written to DIR as PNG\n"
    "  --help                this text\n";

String ParseVolumeOptions(const std::vector<String>& args, TVolumeOptions& out) {
  std::vector<String> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const String& a = args[i];
    auto value = [&](String& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      out.Help = true;
    } else if (a == "--json") {
      out.Json = true;
    } else if (a == "--mute") {
      out.ShowMute = true;
    } else if (a == "--overlay") {
      out.Overlay = true;
    } else if (a == "--audio") {
      if (!value(out.Audio) || (out.Audio != "auto" && out.Audio != "pulse" && out.Audio != "alsa"))
        return "--audio needs auto, pulse or alsa";
    } else if (a == "--snapshot") {
      if (!value(out.Snapshot) || out.Snapshot.empty()) return "--snapshot needs a folder";
    } else if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
      return "unknown option: " + a;
    } else {
      words.push_back(a);
    }
  }
  if (out.Help) return "";
  if (words.empty()) return "a command is needed: get, set, up, down, mute or follow";
  out.Command = words[0];
  const size_t want = (out.Command == "set" || out.Command == "mute") ? 2 : 1;
  if (out.Command != "get" && out.Command != "set" && out.Command != "up" &&
      out.Command != "down" && out.Command != "mute" && out.Command != "follow")
    return "unknown command: " + out.Command;
  if (words.size() != want)
    return out.Command + (want == 1 ? " takes no argument" : " takes one argument");
  if (out.Command == "set" && (!TryStrToInt(words[1], out.Volume) || out.Volume < 0 ||
                               out.Volume > 100 || words[1].find_first_of("$xX") != String::npos))
    return "set needs a volume from 0 to 100";
  if (out.Command == "mute") {
    out.MuteMode = words[1];
    if (out.MuteMode != "on" && out.MuteMode != "off" && out.MuteMode != "toggle")
      return "mute needs on, off or toggle";
  }
  if (out.ShowMute && out.Command != "get") return "--mute goes with get";
  if (!out.Snapshot.empty() && !out.Overlay) return "--snapshot goes with --overlay";
  return "";
}
