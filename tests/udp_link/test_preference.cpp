// A preference by content: the datagrams it picks go ahead of a flood that shares their sender's
// address and port, which an address cannot tell apart, and they end that sender's unfinished
// line instead of being joined to it.
#include <gtest/gtest.h>

#include <algorithm>

#include <qx/udp_link/PacketGatherer.h>
#include <qx/udp_link/PacketText.h>
#include "UdpTestKit.h"

namespace {

// Proves itself by its first word; the real one checks a signature.
struct TProof : IQxUDPSPreference {
  bool Prefer(std::string_view datagram, const sockaddr_in&) override {
    return datagram.substr(0, 5) == "proof";
  }
};

}  // namespace

TEST(FloodRule, DatagramsThatProveThemselvesGoAheadOfAFloodFromTheirOwnSender) {
  struct TCase {
    const char* LineEnd;
    const char* Forged;  // what the flood sends, from the same address and port
  };
  const TCase cases[] = {{"", "forged"}, {"\r\n", "forged\r\n"}, {"\r\n", "unfinished line"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Forged);
    TUDPBlockSocket sock;
    sock.CreateSocket();
    sock.Bind("127.0.0.1", "0");
    sock.SetRecvBufferSize(256 * 1024);
    TPacketGatherer g;
    g.SetLineReadMs(100);  // the flood's unfinished line is not waited for long
    TProof proof;
    g.SetPreferred(htonl(INADDR_LOOPBACK), &proof);  // the address alone would favour all
    Peer sender;
    std::vector<std::string> mine;
    for (int i = 0; i < 300; ++i) {
      sender.SendTo(sock.GetLocalSinPort(), c.Forged);
      if (i % 60 == 59) {
        mine.push_back("proof" + std::to_string(i));
        sender.SendTo(sock.GetLocalSinPort(), mine.back() + c.LineEnd);
      }
    }
    // The lines gathered, in order (one sender's lines may be joined into one packet).
    std::vector<std::string> got;
    const RawByteString lineEnd = LineEndBytes(c.LineEnd[0] ? "CRLF" : "");
    while (got.size() < mine.size() && g.Poll(sock) && g.Gather(sock, lineEnd, 0, nullptr)) {
      const std::string_view p = g.Packet();
      for (size_t at = 0; at <= p.size() && got.size() < mine.size();) {
        const size_t end = std::min(p.find("\r\n", at), p.size());
        got.emplace_back(p.substr(at, end - at));
        at = end + 2;
      }
    }
    EXPECT_EQ(got, mine);
  }
}
