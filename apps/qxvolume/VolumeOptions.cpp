#include "VolumeOptions.h"

#include "apps/common/CommandLine.h"

namespace {

const char* const kUsage =
    "Usage: qxvolume [OPTION]... COMMAND\n"
    "The master volume component from the shell.\n"
    "  get [--mute]          print the volume in percent (with --mute, \"muted\" after it when\n"
    "                        muted)\n"
    "  set N                 set the volume to N percent (0..100)\n"
    "  up [N] | down [N]     N percent up or down (without N: one step of the component, 2 %)\n"
    "  mute on|off|toggle    mute, unmute or toggle\n"
    "  follow                print every change made by any program until interrupted\n"
    "  devices               list the sinks and sources (name, description, * for the default,\n"
    "                        volume, mute); with --audio alsa the ALSA mixers' controls\n"
    "Options:\n"
    "  --json                one JSON object per line: {\"event\":\"audio\",\"volume\":40,"
    "\"mute\":false}\n"
    "  --audio auto|pulse|alsa   the sound server (pulse) or the ALSA mixer (alsa, no mute);\n"
    "                        auto takes the sound server when one answers\n"
    "  --device NAME         steer this device: a sink's or a source's name as \"devices\" lists\n"
    "                        it, @DEFAULT_SOURCE@ for the microphone, or with --audio alsa\n"
    "                        DEVICE/CONTROL (hw:1/PCM, default/Capture); default: the default\n"
    "                        output\n"
    "  --overlay             show the volume overlay on the display\n"
    "  --display KIND        where the overlay goes: auto, wayland, x11 or none\n"
    "  --output NAME         the Wayland output the overlay goes on\n"
    "  --snapshot DIR        with --overlay: no display, each shown frame written to DIR as PNG\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "Exit status: 0 on success, 1 when no sound server or mixer answers, 2 for a bad command\n"
    "line.\n";

bool Percent(const String& text, int32_t& value) {
  return !text.empty() && text.find_first_not_of("0123456789") == String::npos &&
         TryStrToInt(text, value) && value <= 100;
}

}  // namespace

int ParseVolumeOptions(int argc, char** argv, TVolumeOptions& out) {
  TCommandLine cl("qxvolume", kUsage);
  cl.Flag("json", out.Json)
      .Flag("mute", out.ShowMute)
      .Flag("overlay", out.Overlay)
      .Value("audio",
             [&](const String& v) {
               out.Audio = v;
               return OneOf("--audio", v, {"auto", "pulse", "alsa"});
             })
      .Value("device",
             [&](const String& v) {
               out.Device = v;
               return v.empty() ? String("--device needs a name") : String();
             })
      .DisplayOptions(out.Display, out.Output)
      .Value("snapshot", [&](const String& v) {
        out.Snapshot = v;
        return v.empty() ? String("--snapshot needs a folder") : String();
      });
  if (int status = cl.Parse(argc, argv); status >= 0) return status;
  const std::vector<String>& words = cl.Operands();
  if (words.empty())
    return cl.UsageError("a command is needed: get, set, up, down, mute, follow or devices");
  out.Command = words[0];
  const String& c = out.Command;
  if (c != "get" && c != "set" && c != "up" && c != "down" && c != "mute" && c != "follow" &&
      c != "devices")
    return cl.UsageError("unknown command '" + c + "'");
  const bool step = c == "up" || c == "down";
  const size_t least = (c == "set" || c == "mute") ? 2 : 1;
  const size_t most = (least == 2 || step) ? 2 : 1;
  if (words.size() < least || words.size() > most)
    return cl.UsageError(c + (most == 1 ? " takes no argument" : " takes one argument"));
  if (c == "set" && !Percent(words[1], out.Volume))
    return cl.UsageError("set needs a volume from 0 to 100");
  if (step && words.size() == 2 && (!Percent(words[1], out.Step) || out.Step == 0))
    return cl.UsageError(c + " needs a step from 1 to 100");
  if (c == "mute") {
    out.MuteMode = words[1];
    if (out.MuteMode != "on" && out.MuteMode != "off" && out.MuteMode != "toggle")
      return cl.UsageError("mute needs on, off or toggle");
  }
  if (out.ShowMute && c != "get") return cl.UsageError("--mute goes with get");
  if (!out.Snapshot.empty() && !out.Overlay) return cl.UsageError("--snapshot goes with --overlay");
  return -1;
}
