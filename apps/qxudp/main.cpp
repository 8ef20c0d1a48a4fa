// qxudp: the UDP component from the shell. `listen` activates a receive socket and prints every
// status and packet event; `send` makes a one-shot send and prints the replies.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include <qx/framework/app/Application.h>
#include <qx/master_volume/SignedCommand.h>
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
    "Usage: qxudp listen [OPTION]...\n"
    "  or:  qxudp send HOST PORT TEXT [OPTION]...\n"
    "The UDP component from the shell.\n"
    "\n"
    "Commands:\n"
    "  listen              binds ADDR:PORT (default 127.0.0.1:2800) and prints every status\n"
    "                      and packet event until interrupted (Ctrl-C), or until N packets\n"
    "                      with --count\n"
    "  send HOST PORT TEXT\n"
    "                      sends TEXT once from a fresh socket and prints every reply that\n"
    "                      arrives within a second of the previous one\n"
    "\n"
    "Options:\n"
    "  --ip ADDR           (listen) the address to bind\n"
    "  --port PORT         (listen) the port to bind\n"
    "  --line-end-rx TEXT  what ends a received packet; empty: whole datagrams\n"
    "  --line-end-tx TEXT  what is added to a datagram sent\n"
    "  --utf8              UTF-8 on the wire\n"
    "  --rx-timeout MS     (listen) how long a piece of a packet is waited for\n"
    "  --respond TEXT      answer each packet (or reply) with TEXT\n"
    "  --count N           (listen) stop after N packets\n"
    "  --no-reply          (send) return once the datagram has left, without waiting for replies\n"
    "  --key-file FILE     (send) sign each line of TEXT with the key in FILE, its counter the\n"
    "                      Unix time in milliseconds (COMMAND;n=COUNTER;h=TAG); each reply line\n"
    "                      must carry one of those counters and the key's tag, and one that does\n"
    "                      not is reported (exit status 1)\n"
    "  --json              one JSON object per line instead of text\n"
    "  -h, --help          this text\n"
    "  -V, --version       the version\n"
    "\n"
    "Line ends: CRLF, CR (any case) or any other text taken literally; empty means none.\n"
    "\n"
    "Exit status: 0 on success and after Ctrl-C, 1 when the port cannot be bound or nothing\n"
    "could be sent, 2 for a bad command line.\n";

struct Options {
  String Command;
  std::vector<String> Positional;
  std::map<String, String> Values;
  bool UTF8 = false, Json = false, NoReply = false;
};

std::unique_ptr<TCommandLine> Line;

int Usage(const String& error) {
  return Line->UsageError(error);
}

// Returns -1 when the program goes on, otherwise its exit status.
int Parse(int argc, char** argv, Options& o) {
  Line = std::make_unique<TCommandLine>("qxudp", kUsage);
  Line->Flag("utf8", o.UTF8).Flag("json", o.Json).Flag("no-reply", o.NoReply);
  for (const char* name :
       {"ip", "line-end-rx", "line-end-tx", "rx-timeout", "respond", "count", "key-file"})
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
  if (o.Values.count("--key-file")) return Usage("--key-file is for send");
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

// Signs each line of a text (cut at CR and LF, which stay as they are) with counters from the
// Unix time in milliseconds, one more for each further line; the counters go into `sent`.
String SignLines(TCommandMac& mac, const String& text, std::set<uint64_t>& sent) {
  using namespace std::chrono;
  uint64_t counter = static_cast<uint64_t>(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
  String out;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == String::npos) end = text.size();
    if (end > start) {
      out += AnsiToString(
          RawByteString(mac.Sign(StringToAnsi(text.substr(start, end - start)).Bytes(), counter)));
      sent.insert(counter++);
    }
    if (end < text.size()) out += text[end];
    start = end + 1;
  }
  return out;
}

// Whether every line of a reply is signed by the key with one of the counters sent.
bool RepliesVerify(TCommandMac& mac, const String& reply, const std::set<uint64_t>& sent) {
  bool ok = false;
  for (size_t start = 0; start < reply.size();) {
    size_t end = reply.find_first_of("\r\n", start);
    if (end == String::npos) end = reply.size();
    if (end > start) {
      const RawByteString wire = StringToAnsi(reply.substr(start, end - start));
      TSignedLine s;
      if (!ParseSignedLine(wire.Bytes(), s) || sent.count(s.Counter) == 0 || !mac.Verify(s))
        return false;
      ok = true;
    }
    start = end + 1;
  }
  return ok;
}

int Send(const Options& o) {
  if (o.Positional.size() != 3) return Usage("send needs HOST PORT TEXT");
  const String& host = o.Positional[0];
  const String& port = o.Positional[1];
  String text = o.Positional[2];
  std::unique_ptr<TCommandMac> mac;
  std::set<uint64_t> sent;
  if (o.Values.count("--key-file")) {
    TQxCommandKey key;
    std::string error;
    if (!ReadKeyFile(o.Values.at("--key-file"), key, error)) {
      std::fprintf(stderr, "qxudp: %s\n", error.c_str());
      return 2;
    }
    mac = std::make_unique<TCommandMac>(key);
    Cleanse(key.data(), key.size());
    text = SignLines(*mac, text, sent);
  }
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
  // The datagram as the component builds it.
  RawByteString payload = StringToAnsi(text);
  if (o.UTF8) payload = CharsetConversion(payload, CP1250, UTF_8);
  const String lineEnd = o.Values.count("--line-end-tx") ? o.Values.at("--line-end-tx") : "";
  payload = payload + WireLineEnd(LineEndBytes(lineEnd), o.UTF8);
  if (payload.size() > TUDPBlockSocket::MaxDatagram) {
    std::fprintf(stderr,
                 "qxudp: nothing sent: %zu bytes do not fit in one datagram (at most %zu)\n",
                 payload.size(), TUDPBlockSocket::MaxDatagram);
    return 1;
  }
  if (o.NoReply) {
    if (o.Values.count("--respond"))
      return Usage("--respond answers replies, which --no-reply does not wait for");
    // Nobody waits for replies, so no one-shot thread and its second of listening: the
    // datagram has left once the kernel has taken it.
    TUDPBlockSocket sock;
    sock.CreateSocket();
    if (sock.LastError() == 0) sock.Connect(host, port);
    if (sock.LastError() == 0) sock.SendString(payload);
    if (sock.LastError() == 0) return 0;
    std::fprintf(stderr, "qxudp: nothing sent to %s:%s: %s\n", host.c_str(), port.c_str(),
                 SocketErrorText(sock.LastError()).c_str());
    return 1;
  }
  TOwned<TComponent> root(new TComponent(nullptr));
  auto* u = new TQxUDPS(root.get());
  Configure(u, o);
  TEventPrinter out(o.Json);
  const std::optional<String> respond =
      o.Values.count("--respond") ? std::optional<String>(o.Values.at("--respond")) : std::nullopt;
  int forged = 0;
  u->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
      [&](TObject*, String reply, String hex, String peer, String rport, String& response) {
        if (mac && !RepliesVerify(*mac, reply, sent)) {
          ++forged;
          std::fprintf(stderr, "qxudp: the reply from %s:%s fails its tag: %s\n", peer.c_str(),
                       rport.c_str(), Visible(reply).c_str());
          return;
        }
        out.Packet("reply", reply, hex, peer, rport);
        if (respond) response = *respond;
      }));
  u->UDPClientSendTo(host, port, text);
  // The send ends about a second after its last reply.
  while (!Application->Terminated() && u->ClientSendsRunning() > 0)
    Application->HandleMessage(std::chrono::milliseconds(20));
  return forged > 0 ? 1 : 0;
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
