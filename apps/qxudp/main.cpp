// qxudp: the UDP component from the shell. `listen` activates a receive socket and prints every
// status and packet event; `send` makes a one-shot send and prints the replies.
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include <qx/framework/app/Application.h>
#include <qx/net/synachar.h>
#include <qx/udp_link/QxUDPS.h>
#include "apps/common/EventOutput.h"
#include "apps/common/StopSignals.h"

namespace {

const char* kUsage =
    "usage:\n"
    "  qxudp listen [--ip ADDR] [--port PORT] [--line-end-rx TEXT] [--line-end-tx TEXT]\n"
    "               [--utf8] [--rx-timeout MS] [--respond TEXT] [--count N] [--json]\n"
    "  qxudp send HOST PORT TEXT [--line-end-tx TEXT] [--line-end-rx TEXT] [--utf8]\n"
    "               [--respond TEXT] [--json]\n"
    "\n"
    "listen  binds ADDR:PORT (default 127.0.0.1:2800) and prints every status and packet event\n"
    "        until interrupted (Ctrl-C), or until N packets with --count. Each packet is\n"
    "        answered with --respond TEXT when given.\n"
    "send    sends TEXT once from a fresh socket and prints every reply that arrives within a\n"
    "        second of the previous one, answering each with --respond TEXT when given.\n"
    "\n"
    "Line ends: CRLF, CR (any case) or any other text taken literally; empty means none\n"
    "(listen then reports whole datagrams). --utf8 sends and reads UTF-8 on the wire.\n"
    "--json prints one JSON object per line instead of text.\n";

struct Options {
  String Command;
  std::vector<String> Positional;
  std::map<String, String> Values;
  bool UTF8 = false, Json = false;
};

[[noreturn]] void Usage(const String& error) {
  if (!error.empty()) std::fprintf(stderr, "qxudp: %s\n\n", error.c_str());
  std::fputs(kUsage, error.empty() ? stdout : stderr);
  std::exit(error.empty() ? 0 : 2);
}

Options Parse(int argc, char** argv) {
  static const char* kValued[] = {"--ip",         "--port",    "--line-end-rx", "--line-end-tx",
                                  "--rx-timeout", "--respond", "--count"};
  Options o;
  for (int i = 1; i < argc; ++i) {
    String a = argv[i];
    if (a == "--help" || a == "-h") Usage("");
    if (a == "--utf8") {
      o.UTF8 = true;
    } else if (a == "--json") {
      o.Json = true;
    } else if (a.rfind("--", 0) == 0) {
      bool known = false;
      for (const char* k : kValued) known = known || a == k;
      if (!known) Usage("unknown option " + a);
      if (i + 1 >= argc) Usage(a + " needs a value");
      o.Values[a] = argv[++i];
    } else if (o.Command.empty()) {
      o.Command = a;
    } else {
      o.Positional.push_back(a);
    }
  }
  return o;
}

void Configure(TQxUDPS* u, const Options& o) {
  if (o.Values.count("--line-end-rx")) u->SetFUDPLineEndRx(o.Values.at("--line-end-rx"));
  if (o.Values.count("--line-end-tx")) u->SetFUDPLineEndTx(o.Values.at("--line-end-tx"));
  u->SetFUTF8(o.UTF8);
}

int Listen(const Options& o) {
  if (!o.Positional.empty()) Usage("listen takes no arguments besides options");
  TOwned<TComponent> root(new TComponent(nullptr));
  auto* u = new TQxUDPS(root.get());
  Configure(u, o);
  u->SetFUDPLocalIP(o.Values.count("--ip") ? o.Values.at("--ip") : "127.0.0.1");
  u->SetFUDPRxPort(o.Values.count("--port") ? o.Values.at("--port") : "2800");
  if (o.Values.count("--rx-timeout")) {
    int32_t ms;
    if (!TryStrToInt(o.Values.at("--rx-timeout"), ms)) Usage("--rx-timeout needs a number");
    u->SetFUDPRxTimeout(ms);
  }
  int64_t count = -1;
  if (o.Values.count("--count")) {
    int32_t n;
    if (!TryStrToInt(o.Values.at("--count"), n) || n < 1) Usage("--count needs a positive number");
    count = n;
  }
  const std::optional<String> respond =
      o.Values.count("--respond") ? std::optional<String>(o.Values.at("--respond")) : std::nullopt;

  TEventPrinter out(o.Json);
  int failures = 0;
  int64_t packets = 0;
  u->SetFOnUDPStatus(TOnUDPStatus::Callable([&](TObject*, bool active, int32_t error, String desc) {
    out.Status(active, error, desc, u->UDPLocalIP(), u->BoundPort());
    // A failed bind reports twice: once from the thread, once as it ends.
    if (error != 0 && ++failures == 2) Application->Terminate();
  }));
  u->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
      [&](TObject*, String text, String hex, String peer, String port, String& response) {
        out.Packet("packet", text, hex, peer, port);
        if (respond) response = *respond;
        if (count > 0 && ++packets >= count) Application->Terminate();
      }));
  u->SetUDPActive(true);
  Application->Run();
  const bool failed = failures > 0;
  u->SetUDPActive(false);  // the final status event, when it was active
  return failed ? 1 : 0;
}

int Send(const Options& o) {
  if (o.Positional.size() != 3) Usage("send needs HOST PORT TEXT");
  const String& host = o.Positional[0];
  const String& port = o.Positional[1];
  const String& text = o.Positional[2];
  if (o.Values.count("--ip") || o.Values.count("--port") || o.Values.count("--count") ||
      o.Values.count("--rx-timeout"))
    Usage("--ip, --port, --count and --rx-timeout are for listen");
  // The component's one-shot send reports nothing by contract; say here why nothing was sent.
  if (text.empty()) {
    std::fprintf(stderr, "qxudp: nothing sent: the text is empty\n");
    return 1;
  }
  {
    TUDPBlockSocket probe;
    probe.Connect(host, port);
    if (probe.LastError() != 0) {
      std::fprintf(stderr, "qxudp: nothing sent: %s:%s: %s\n", host.c_str(), port.c_str(),
                   probe.LastErrorDesc().c_str());
      return 1;
    }
  }
  {
    // The datagram as the component builds it.
    RawByteString payload = StringToAnsi(text);
    if (o.UTF8) payload = CharsetConversion(payload, CP1250, UTF_8);
    const String lineEnd = o.Values.count("--line-end-tx") ? o.Values.at("--line-end-tx") : "";
    const size_t size = payload.size() + WireLineEnd(LineEndBytes(lineEnd), o.UTF8).size();
    if (size > TUDPBlockSocket::MaxDatagram) {
      std::fprintf(stderr,
                   "qxudp: nothing sent: %zu bytes do not fit in one datagram (at most %zu)\n",
                   size, TUDPBlockSocket::MaxDatagram);
      return 1;
    }
  }
  TOwned<TComponent> root(new TComponent(nullptr));
  auto* u = new TQxUDPS(root.get());
  Configure(u, o);
  TEventPrinter out(o.Json);
  const std::optional<String> respond =
      o.Values.count("--respond") ? std::optional<String>(o.Values.at("--respond")) : std::nullopt;
  u->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
      [&](TObject*, String reply, String hex, String peer, String rport, String& response) {
        out.Packet("reply", reply, hex, peer, rport);
        if (respond) response = *respond;
      }));
  u->UDPClientSendTo(host, port, text);
  // The send ends about a second after its last reply.
  while (!Application->Terminated() && u->ClientSendsRunning() > 0)
    Application->HandleMessage(std::chrono::milliseconds(20));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = Parse(argc, argv);
  WatchStopSignals();  // first, so that every thread started later has the signals blocked
  if (o.Command == "listen") return Listen(o);
  if (o.Command == "send") return Send(o);
  Usage(o.Command.empty() ? "a command is needed: listen or send" : "unknown command " + o.Command);
}
