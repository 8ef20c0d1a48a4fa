#include "DaemonOptions.h"

const char* const kDaemonUsage =
    "usage: qxvolumed [--form FILE] [--ip ADDR] [--port PORT] [--remote-ip ADDR]\n"
    "                 [--line-end TEXT] [--align top|bottom] [--no-overlay]\n"
    "                 [--audio auto|pulse|alsa] [--snapshot DIR] [--json] [--print-form]\n"
    "\n"
    "Sets, steps and mutes the system volume on AT commands from one peer over UDP, and shows\n"
    "the volume overlay on every change, whoever made it. Commands, one per line:\n"
    "  AT+SETVOL=N  AT+VOLUP  AT+VOLDOWN  AT+MUTE (toggles)\n"
    "and the queries AT+GETVOL (answered VOL=N) and AT+GETMUTE (answered MUTE=1 or MUTE=0).\n"
    "\n"
    "The built-in form listens on 127.0.0.1 port 2800 for CR LF lines and obeys 127.0.0.1 only.\n"
    "  --form FILE       load this form file instead (see --print-form)\n"
    "  --ip ADDR         the address to listen on (0.0.0.0: every interface)\n"
    "  --port PORT       the port to listen on\n"
    "  --remote-ip ADDR  the one peer whose commands are obeyed\n"
    "  --line-end TEXT   what ends a command: CRLF, CR, other text literally, empty: datagrams\n"
    "  --align EDGE      the overlay's screen edge: top or bottom\n"
    "  --no-overlay      show nothing on the display (events are still printed)\n"
    "  --audio PATH      auto (the sound server, else the ALSA mixer), pulse or alsa\n"
    "  --snapshot DIR    write each overlay frame shown as a PNG into DIR\n"
    "  --json            print events as one JSON object per line\n"
    "  --print-form      print the effective form file and exit\n"
    "Stops on Ctrl-C or SIGTERM.\n";

String ParseDaemonOptions(const std::vector<String>& args, TDaemonOptions& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const String& a = args[i];
    String v;
    auto value = [&] {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      out.Help = true;
    } else if (a == "--json") {
      out.Json = true;
    } else if (a == "--no-overlay") {
      out.NoOverlay = true;
    } else if (a == "--print-form") {
      out.PrintForm = true;
    } else if (a == "--ip" || a == "--remote-ip") {
      if (!value() || v.empty()) return a + " needs an address";
      (a == "--ip" ? out.LocalIP : out.RemoteIP) = v;
    } else if (a == "--port") {
      int32_t port;
      if (!value() || !TryStrToInt(v, port) || port < 0 || port > 65535 ||
          v.find_first_not_of("0123456789") != String::npos)
        return "--port needs a port number (0 to 65535)";
      out.RxPort = v;
    } else if (a == "--line-end") {
      if (!value()) return "--line-end needs a text (CRLF, CR, other text, or '')";
      out.LineEnd = v;
    } else if (a == "--align") {
      if (!value() || !(SameText(v, "top") || SameText(v, "bottom")))
        return "--align needs top or bottom";
      out.AlignTop = SameText(v, "top");
    } else if (a == "--audio") {
      if (!value()) return "--audio needs auto, pulse or alsa";
      if (v == "auto")
        out.Audio = TAudioChoice::Auto;
      else if (v == "pulse")
        out.Audio = TAudioChoice::Pulse;
      else if (v == "alsa")
        out.Audio = TAudioChoice::Alsa;
      else
        return "--audio needs auto, pulse or alsa";
    } else if (a == "--form" || a == "--snapshot") {
      if (!value() || v.empty()) return a + (a == "--form" ? " needs a file" : " needs a folder");
      (a == "--form" ? out.Form : out.Snapshot) = v;
    } else {
      return "unknown argument: " + a;
    }
  }
  return "";
}
