// qxudp: the UDP component from the shell. `listen` activates a receive socket and prints every
// status and packet event; `send` makes a one-shot send and prints the replies.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include <qx/framework/app/Application.h>
#include <qx/net/blcksock.h>
#include <qx/net/synachar.h>
#include <qx/udp_link/PacketText.h>
#include <qx/udp_link/QxUDPS.h>
#include "apps/common/CommandLine.h"
#include "apps/common/EventOutput.h"
#include "apps/common/OutputQueue.h"
#include "apps/common/StopSignals.h"

namespace {

const char* kUsage =
    "Usage: qxudp listen [--ip ADDR] [--port PORT] [--line-end-rx TEXT] [--line-end-tx TEXT]\n"
    "                    [--utf8] [--rx-timeout MS] [--respond TEXT] [--count N] [--json]\n"
    "       qxudp send HOST PORT TEXT [--line-end-tx TEXT] [--line-end-rx TEXT] [--utf8]\n"
    "                    [--respond TEXT] [--json]\n"
    "The UDP component from the shell.\n"
    "\n"
    "listen  binds ADDR:PORT (default 127.0.0.1:2800) and prints every status and packet event\n"
    "        until interrupted (Ctrl-C), or until N packets with --count. Each packet is\n"
    "        answered with --respond TEXT when given.\n"
    "send    sends TEXT once from a fresh socket and prints every reply that arrives within a\n"
    "        second of the previous one, answering each with --respond TEXT when given.\n"
    "\n"
    "Line ends: CRLF, CR (any case) or any other text taken literally; empty means none\n"
    "(listen then reports whole datagrams). --utf8 sends and reads UTF-8 on the wire.\n"
    "--json prints one JSON object per line instead of text. --help prints this text,\n"
    "--version the version.\n"
    "\n"
    "Exit status: 0 on success and after Ctrl-C, 1 when the port cannot be bound or nothing\n"
    "could be sent, 2 for a bad command line.\n";

struct Options {
  String Command;
  std::vector<String> Positional;
  std::map<String, String> Values;
  bool UTF8 = false, Json = false;
};

std::unique_ptr<TCommandLine> Line;

int Usage(const String& error) {
  return Line->UsageError(error);
}

// Returns -1 when the program goes on, otherwise its exit status.
int Parse(int argc, char** argv, Options& o) {
  Line = std::make_unique<TCommandLine>("qxudp", kUsage);
  Line->Flag("utf8", o.UTF8).Flag("json", o.Json);
  for (const char* name : {"ip", "line-end-rx", "line-end-tx", "rx-timeout", "respond", "count"})
    Line->Value(name, [&o, name](const String& v) {
      o.Values[String("--") + name] = v;
      return String();
    });
  Line->Value("port", [&o](const String& v) {
    int port;
    if (!ParsePort(v, port)) return String("--port needs a port number from 0 to 65535");
    o.Values["--port"] = v;
    return String();
  });
  if (int status = Line->Parse(argc, argv); status >= 0) return status;
  for (const String& a : Line->Operands()) {
    if (o.Command.empty())
      o.Command = a;
    else
      o.Positional.push_back(a);
  }
  return -1;
}

void Configure(TQxUDPS* u, const Options& o) {
  if (o.Values.count("--line-end-rx")) u->SetFUDPLineEndRx(o.Values.at("--line-end-rx"));
  if (o.Values.count("--line-end-tx")) u->SetFUDPLineEndTx(o.Values.at("--line-end-tx"));
  u->SetFUTF8(o.UTF8);
}

int Listen(const Options& o) {
  if (!o.Positional.empty()) return Usage("listen takes no arguments besides options");
  TOwned<TComponent> root(new TComponent(nullptr));
  auto* u = new TQxUDPS(root.get());
  Configure(u, o);
  u->SetFUDPLocalIP(o.Values.count("--ip") ? o.Values.at("--ip") : "127.0.0.1");
  u->SetFUDPRxPort(o.Values.count("--port") ? o.Values.at("--port") : "2800");
  if (o.Values.count("--rx-timeout")) {
    int32_t ms;
    if (!TryStrToInt(o.Values.at("--rx-timeout"), ms)) return Usage("--rx-timeout needs a number");
    u->SetFUDPRxTimeout(ms);
  }
  int64_t count = -1;
  if (o.Values.count("--count")) {
    int32_t n;
    if (!TryStrToInt(o.Values.at("--count"), n) || n < 1)
      return Usage("--count needs a positive number");
    count = n;
  }
  const std::optional<String> respond =
      o.Values.count("--respond") ? std::optional<String>(o.Values.at("--respond")) : std::nullopt;

  TEventPrinter out(o.Json);
  int failures = 0;
  int64_t packets = 0;
  u->SetFOnUDPStatus(TOnUDPStatus::Callable([&](TObject*, bool active, int32_t error, String desc) {
    // A failed bind is said once, in the system's words: the thread reports again as it ends.
    if (error != 0) {
      if (++failures == 1)
        std::fprintf(stderr, "qxudp: cannot listen on %s:%s: %s\n", u->UDPLocalIP().c_str(),
                     u->UDPRxPort().c_str(), SocketErrorText(error, u->UDPErrno()).c_str());
      Application->Terminate();
      return;
    }
    out.Status(active, error, desc, u->UDPLocalIP(), u->BoundPort());
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
  if (o.Positional.size() != 3) return Usage("send needs HOST PORT TEXT");
  const String& host = o.Positional[0];
  const String& port = o.Positional[1];
  const String& text = o.Positional[2];
  if (o.Values.count("--ip") || o.Values.count("--port") || o.Values.count("--count") ||
      o.Values.count("--rx-timeout"))
    return Usage("--ip, --port, --count and --rx-timeout are for listen");
  int portNumber;
  if (!ParsePort(port, portNumber)) return Usage("send needs a port number from 0 to 65535");
  // The component's one-shot send reports nothing by contract; say here why nothing was sent.
  if (text.empty()) {
    std::fprintf(stderr, "qxudp: nothing sent: the text is empty\n");
    return 1;
  }
  {
    TUDPBlockSocket probe;
    probe.Connect(host, port);
    if (probe.LastError() != 0) {
      std::fprintf(stderr, "qxudp: nothing sent to %s:%s: %s\n", host.c_str(), port.c_str(),
                   SocketErrorText(probe.LastError(), probe.LastErrno()).c_str());
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
  OutputQueue::SetProgram("qxudp");
  Options o;
  if (int status = Parse(argc, argv, o); status >= 0) return status;
  if (o.Command != "listen" && o.Command != "send")
    return Usage(o.Command.empty() ? "a command is needed: listen or send"
                                   : "unknown command '" + o.Command + "'");
  WatchStopSignals();  // first, so that every thread started later has the signals blocked
  const int status = o.Command == "listen" ? Listen(o) : Send(o);
  return status;
}
