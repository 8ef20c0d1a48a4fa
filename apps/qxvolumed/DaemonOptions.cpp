#include "DaemonOptions.h"

#include "apps/common/CommandLine.h"

namespace {

const char* const kUsage =
    "Usage: qxvolumed [OPTION]...\n"
    "Sets, steps and mutes the system volume on AT commands from one peer over UDP, and shows\n"
    "the volume overlay on every change, whoever made it. Commands, one per line:\n"
    "  AT+SETVOL=N  AT+VOLUP  AT+VOLDOWN  AT+MUTE (toggles)\n"
    "and the queries AT+GETVOL (answered VOL=N) and AT+GETMUTE (answered MUTE=1 or MUTE=0).\n"
    "Several lines may come in one datagram; each is obeyed in order.\n"
    "\n"
    "The built-in form listens on 127.0.0.1 port 2800 for CR LF lines and obeys 127.0.0.1 only.\n"
    "  --form FILE       load this form file instead (see --print-form)\n"
    "  --ip ADDR         the address to listen on (0.0.0.0: every interface)\n"
    "  --port PORT       the port to listen on\n"
    "  --remote-ip ADDR  the one peer whose commands are obeyed, as dotted IPv4; with a key,\n"
    "                    'any' lets every sender that proves the key be the peer\n"
    "  --key-file FILE   obey only lines signed with the key in FILE (COMMAND;n=COUNTER;h=TAG);\n"
    "                    FILE must be readable by its owner only. Without it, a key given by\n"
    "                    systemd as the credential qxvolumed.key is used\n"
    "  --new-key FILE    write a fresh key into the new file FILE (mode 0600) and exit\n"
    "  --line-end TEXT   what ends a command: CRLF, CR, other text literally, empty: datagrams\n"
    "  --align EDGE      the overlay's screen edge: top or bottom\n"
    "  --no-overlay      show nothing on the display (events are still printed)\n"
    "  --display KIND    where the overlay goes: auto, wayland, x11 or none\n"
    "  --output NAME     the Wayland output the overlay goes on (default: the compositor's)\n"
    "  --audio PATH      auto (the sound server, else the ALSA mixer), pulse or alsa\n"
    "  --snapshot DIR    write each overlay frame shown as a PNG into DIR\n"
    "  --json            print events as one JSON object per line\n"
    "  --verbose         print every packet, also those ignored (otherwise summed up per sender\n"
    "                    once a second)\n"
    "  --print-form      print the effective form file and exit\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "Stops on Ctrl-C or SIGTERM; SIGHUP reads the form again. Exit status: 0 after a stop, 1 when\n"
    "the port cannot be bound or no display is there, 2 for a bad command line or form.\n";

}  // namespace

int ParseDaemonOptions(int argc, char** argv, TDaemonOptions& o) {
  TCommandLine cl("qxvolumed", kUsage);
  cl.Flag("json", o.Json)
      .Flag("verbose", o.Verbose)
      .Flag("no-overlay", o.NoOverlay)
      .Flag("print-form", o.PrintForm)
      .Value("ip",
             [&](const String& v) {
               if (!IsDottedIPv4(v)) return String("--ip needs a dotted IPv4 address");
               o.LocalIP = v;
               return String();
             })
      .Value("remote-ip",
             [&](const String& v) {
               // With a key, the key tells the peer: checked once the key is known.
               if (v == "any") {
                 o.RemoteIP = String();
                 return String();
               }
               // The peer check compares the sender's address as text: a name would match nobody.
               if (!IsDottedIPv4(v))
                 return "--remote-ip needs a dotted IPv4 address such as 192.168.1.20, not '" + v +
                        "'";
               o.RemoteIP = v;
               return String();
             })
      .Value("port", PortValue("--port", o.RxPort))
      .Value("line-end", o.LineEnd)
      .Value("align",
             [&](const String& v) {
               if (!(SameText(v, "top") || SameText(v, "bottom")))
                 return String("--align needs top or bottom");
               o.AlignTop = SameText(v, "top");
               return String();
             })
      .Value("audio",
             [&](const String& v) {
               o.Audio = v == "pulse"  ? TAudioChoice::Pulse
                         : v == "alsa" ? TAudioChoice::Alsa
                                       : TAudioChoice::Auto;
               return OneOf("--audio", v, {"auto", "pulse", "alsa"});
             })
      .DisplayOptions(o.Display, o.Output)
      .Value("key-file",
             [&](const String& v) {
               o.KeyFile = v;
               return v.empty() ? String("--key-file needs a file") : String();
             })
      .Value("new-key",
             [&](const String& v) {
               o.NewKey = v;
               return v.empty() ? String("--new-key needs a file") : String();
             })
      .Value("form",
             [&](const String& v) {
               o.Form = v;
               return v.empty() ? String("--form needs a file") : String();
             })
      .Value("snapshot", [&](const String& v) {
        o.Snapshot = v;
        return v.empty() ? String("--snapshot needs a folder") : String();
      });
  const int status = cl.Parse(argc, argv);
  if (status >= 0) return status;
  if (!cl.Operands().empty())
    return cl.UsageError("unexpected argument '" + cl.Operands()[0] + "'");
  return -1;
}
