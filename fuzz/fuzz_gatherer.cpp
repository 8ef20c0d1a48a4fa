// The packet gatherer fed through a real loopback socket by two senders, in each of its three
// ways of cutting (whole datagrams, CR LF lines, a terminator), with or without one of them
// preferred: whatever arrives, a packet holds only its own sender's bytes, stays within the
// packet bound, and whole datagrams arrive as sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketGatherer.h>

namespace {

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

struct TSender {
  int Fd = -1;
  uint16_t Port = 0;
};

// On 127.0.0.1 + `host`, so that one of the two can be preferred by its address.
TSender OpenSender(uint32_t host) {
  TSender s;
  s.Fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + host);
  bind(s.Fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s.Fd, reinterpret_cast<sockaddr*>(&a), &len);
  s.Port = ntohs(a.sin_port);
  return s;
}

struct TRig {
  TUDPBlockSocket Receiver;
  sockaddr_in To{};
  TSender Senders[2];

  TRig() {
    Receiver.CreateSocket();
    Receiver.Bind("127.0.0.1", "0");
    To.sin_family = AF_INET;
    To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    To.sin_port = htons(static_cast<uint16_t>(Receiver.GetLocalSinPort()));
    Senders[0] = OpenSender(0);
    Senders[1] = OpenSender(1);
  }
};

// Each sender's payload bytes come from an alphabet of its own, so a packet's sender can be
// told from its bytes; every eighth byte value becomes a line end.
char Mapped(uint8_t b, int sender, char terminator) {
  if (b % 8 == 0) return terminator;
  return static_cast<char>((sender == 0 ? 'a' : 'A') + b % 26);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TRig rig;
  if (size < 1) return 0;
  const int mode = data[0] % 3;
  // Through the receive thread's queue, with the flood rule at a zero mark: every full queue
  // while both senders talk reads the whole backlog and drops a surplus.
  const bool queued = data[0] / 3 % 2 == 1;
  // Each record goes out this many times, so that the queue fills; few enough in all that the
  // kernel's default buffer holds them.
  const size_t copies = queued ? 1 + data[0] / 6 % 8 : 1;
  // Sender 0 preferred: its datagrams go ahead of sender 1's, so only each sender's own order
  // is kept.
  const bool prefer = data[0] / 48 % 2 == 1;
  const RawByteString L = RawByteString::FromBytes(mode == 0 ? "" : mode == 1 ? "\r\n" : ";");
  const char terminator = mode == 2 ? ';' : '\n';

  // Records: a header byte (sender in the low bit, length in the rest), then the payload.
  std::vector<std::pair<int, std::string>> sent;
  size_t i = 1;
  for (int records = 0; i < size && records < 16; ++records) {
    const int sender = data[i] & 1;
    const size_t len = std::min<size_t>(data[i] >> 1, size - i - 1);
    ++i;
    std::string payload;
    for (size_t k = 0; k < len; ++k) payload += Mapped(data[i + k], sender, terminator);
    i += len;
    if (mode == 1)
      for (size_t p = 0; (p = payload.find('\n', p)) != std::string::npos; p += 2)
        payload.replace(p, 1, "\r\n");
    for (size_t c = 0; c < copies; ++c) {
      sendto(rig.Senders[sender].Fd, payload.data(), payload.size(), 0,
             reinterpret_cast<const sockaddr*>(&rig.To), sizeof rig.To);
      sent.emplace_back(sender, payload);
    }
  }

  TPacketGatherer gather;
  gather.SetOverloadBytes(0);
  gather.SetLineReadMs(5);
  if (prefer) gather.SetPreferred(htonl(INADDR_LOOPBACK));
  std::vector<std::pair<int, std::string>> got;
  for (;;) {
    if (queued) gather.Poll(rig.Receiver);
    if (!gather.Gather(rig.Receiver, L, 5, nullptr)) break;
    const std::string packet(gather.Packet());
    if (packet.size() > TPacketGatherer::MaxPacketBytes) Finding("a packet over the bound");
    const uint16_t port = ntohs(gather.Sender().sin_port);
    const uint32_t host = ntohl(gather.Sender().sin_addr.s_addr) - INADDR_LOOPBACK;
    const int sender = host == 0 && port == rig.Senders[0].Port   ? 0
                       : host == 1 && port == rig.Senders[1].Port ? 1
                                                                  : -1;
    if (sender < 0) Finding("a packet from a sender that sent nothing");
    for (char c : packet) {
      const bool own = sender == 0 ? (c >= 'a' && c <= 'z') : (c >= 'A' && c <= 'Z');
      const bool other = sender == 0 ? (c >= 'A' && c <= 'Z') : (c >= 'a' && c <= 'z');
      if (other) Finding("a packet holds another sender's bytes");
      if (!own && c != '\r' && c != '\n' && c != ';') Finding("a byte nobody sent");
    }
    got.emplace_back(sender, packet);
  }
  if (mode == 0) {
    // What the flood rule keeps arrives whole and in order (each sender's own order when one
    // is preferred); all else is counted as dropped.
    for (int who = 0; who < (prefer ? 2 : 1); ++who) {
      size_t at = 0;
      for (const auto& d : got) {
        if (prefer && d.first != who) continue;
        while (at < sent.size() && sent[at] != d) ++at;
        if (at++ == sent.size()) Finding("whole datagrams did not arrive as sent");
      }
    }
    if (got.size() + gather.Dropped() != sent.size())
      Finding("a datagram neither kept nor dropped");
  }
  gather.Reset();
  rig.Receiver.ResetLineBuffer();
  return 0;
}
