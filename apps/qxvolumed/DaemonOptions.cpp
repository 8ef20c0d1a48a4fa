#include "DaemonOptions.h"

#include <qx/udp_link/PeerAddress.h>
#include "apps/common/CommandLine.h"

namespace {

const char* const kUsage =
    "Usage: qxvolumed [OPTION]...\n"
    "Sets, steps and mutes the system volume on AT commands from one peer over UDP, and shows\n"
    "the volume overlay on every change, whoever made it.\n"
    "\n"
    "The built-in form listens on 127.0.0.1 port 2800 and obeys 127.0.0.1 only. It takes each\n"
    "datagram whole; each of its lines is a command, ending in CR LF, LF or nothing, obeyed in\n"
    "order. An answer ends as its question did.\n"
    "\n"
    "Commands:\n"
    "  AT+SETVOL=N        sets N percent\n"
    "  AT+VOLUP           one step up\n"
    "  AT+VOLDOWN         one step down\n"
    "  AT+MUTE            toggles mute\n"
    "  AT+GETVOL          answered VOL=N\n"
    "  AT+GETMUTE         answered MUTE=1 or MUTE=0\n"
    "\n"
    "Options:\n"
    "  --form FILE        load this form file instead (see --print-form)\n"
    "  --ip ADDR          the address to listen on (0.0.0.0: every interface)\n"
    "  --port PORT        the port to listen on\n"
    "  --remote-ip ADDR   the one peer whose commands are obeyed, as dotted IPv4 (one machine:\n"
    "                     no 0.0.0.0, broadcast or multicast address); with a key, 'any' lets\n"
    "                     every sender that proves the key be the peer\n"
    "  --key-file FILE    obey only lines signed with the key in FILE (COMMAND;n=COUNTER;h=TAG),\n"
    "                     a file only its owner can read (default: the systemd credential\n"
    "                     qxvolumed.key, if there is one)\n"
    "  --new-key FILE     write a fresh key into the new file FILE (mode 0600) and exit\n"
    "  --line-end TEXT    join the lines a remote splits over datagrams, ended by TEXT: CRLF\n"
    "                     or CR (either also takes LF), other text literally; empty: whole\n"
    "                     datagrams, as the built-in form\n"
    "  --align EDGE       the overlay's screen edge: top or bottom\n"
    "  --no-overlay       show nothing on the display (events are still printed)\n"
    "  --display KIND     where the overlay goes: auto, wayland, x11 or none\n"
    "  --output NAME      the Wayland output the overlay goes on (default: the compositor's)\n"
    "  --audio PATH       auto (the sound server, else the ALSA mixer), pulse or alsa\n"
    "  --device NAME      the device steered: a sink's or a source's name (qxvolume devices\n"
    "                     lists them), @DEFAULT_SOURCE@ for the microphone, or on the ALSA path\n"
    "                     DEVICE/CONTROL such as hw:1/PCM; empty: the default output. One\n"
    "                     daemon steers one device; run a second one on another port for\n"
    "                     another (qxvolumed@NAME.service)\n"
    "  --snapshot DIR     write each overlay frame shown as a PNG into DIR, keeping the last 100\n"
    "  --snapshot-keep N  how many frames --snapshot keeps (0: every one)\n"
    "  --json             print events as one JSON object per line\n"
    "  --verbose          print every packet, also those ignored (otherwise summed up per\n"
    "                     sender once a second)\n"
    "  --print-form       print the effective form file and exit\n"
    "\n"
    "The phone page (off unless --http is given):\n"
    "  --http [ADDR:]PORT serve the phone page and its JSON interface on this port (address\n"
    "                     127.0.0.1 unless given; 0.0.0.0: every interface); prints the page's\n"
    "                     address with its pairing token, and on a terminal its QR code\n"
    "  --http-token-file FILE\n"
    "                     the pairing token, kept in FILE (made when missing), so that a paired\n"
    "                     phone stays paired; otherwise a new one each start\n"
    "  --http-cert FILE   with --http-key FILE: serve the page over HTTPS (PEM files)\n"
    "  --http-key FILE    the private key of --http-cert\n"
    "\n"
    "MQTT (off unless --mqtt is given):\n"
    "  --mqtt URL         publish to and take commands from a broker: mqtt://[USER@]HOST[:PORT],\n"
    "                     or mqtts://... (TLS, the certificate checked against the system's\n"
    "                     store)\n"
    "  --mqtt-password-file FILE\n"
    "                     the password, one line in a file only its owner can read (default:\n"
    "                     the systemd credential mqtt-password, if there is one)\n"
    "  --mqtt-cafile FILE the certificate authority of an mqtts:// broker\n"
    "  --mqtt-topic PREFIX\n"
    "                     the topics' prefix (default: qxvolumed/HOSTNAME)\n"
    "  --ha-prefix PREFIX Home Assistant's discovery prefix (default: homeassistant)\n"
    "  --no-ha-discovery  publish no Home Assistant discovery configs\n"
    "  --ha-remove        clear the Home Assistant discovery configs and exit\n"
    "\n"
    "  -h, --help         this text\n"
    "  -V, --version      the version\n"
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
               // The peer is one machine: an address of none, of all or of a group would leave
               // the volume to nobody, or to whoever forges it.
               if (IsNoHostIPv4(v) || LooksLikeBroadcastIPv4(v))
                 return "--remote-ip needs the address of one machine, not '" + v +
                        "' (no address, broadcast or multicast)";
               o.RemoteIP = v;
               return String();
             })
      .Value("port", PortValue("--port", o.RxPort))
      .Value("line-end", o.LineEnd)
      .Value("device", o.Device)
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
      .Value("snapshot",
             [&](const String& v) {
               o.Snapshot = v;
               return v.empty() ? String("--snapshot needs a folder") : String();
             })
      .Value("snapshot-keep",
             [&](const String& v) {
               o.SnapshotKeep = StrToIntDef(v, -1);
               const bool ok =
                   v.find_first_not_of("0123456789") == String::npos && o.SnapshotKeep >= 0;
               return ok ? String() : String("--snapshot-keep needs a number of frames, 0 for all");
             })
      .Value("http",
             [&](const String& v) {
               const size_t colon = v.rfind(':');
               int port;
               if (colon != String::npos) o.HttpAddress = v.substr(0, colon);
               if (!ParsePort(colon == String::npos ? v : v.substr(colon + 1), port) ||
                   !IsDottedIPv4(o.HttpAddress))
                 return "--http needs [ADDR:]PORT such as 8080 or 0.0.0.0:8080, not '" + v + "'";
               o.HttpPort = port;
               return String();
             })
      .Value("http-token-file", o.HttpTokenFile)
      .Value("http-cert", o.HttpCert)
      .Value("http-key", o.HttpKey);
  AddMqttOptions(cl, o.Mqtt);
  const int status = cl.Parse(argc, argv);
  if (status >= 0) return status;
  if (!cl.Operands().empty())
    return cl.UsageError("unexpected argument '" + cl.Operands()[0] + "'");
  if (o.HttpCert.empty() != o.HttpKey.empty())
    return cl.UsageError("--http-cert and --http-key go together");
  if (!o.HttpPort && !(o.HttpCert.empty() && o.HttpTokenFile.empty()))
    return cl.UsageError("--http-cert, --http-key and --http-token-file need --http");
  return -1;
}
