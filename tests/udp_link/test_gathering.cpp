// Gathering under hostile input: one sender per packet, bounded packets, over-long lines, line
// ends on a UTF-8 wire.
#include <gtest/gtest.h>
#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketGatherer.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "UdpTestKit.h"

class Gathering : public ActiveUdpTest {};

TEST_F(Gathering, ASecondSenderEndsThePacketAndGetsItsOwnResponse) {
  struct Case {
    const char *LineEnd, *First, *Second;
    std::vector<std::pair<int, String>> Expected;  // sender (0 first, 1 second), packet
  };
  // A stranger's line just before the trusted peer's must not be credited to the peer, nor an
  // unfinished piece of one glued to the other's.
  const Case cases[] = {
      {"CRLF", "AT+MUTE\r\n", "AT+GETVOL\r\n", {{0, "AT+MUTE"}, {1, "AT+GETVOL"}}},
      {";", "AAA", "BBB;", {{1, "BBB"}}},
      {"", "one", "two", {{0, "one"}, {1, "two"}}},
  };
  rec.Respond = [](const PacketEvent& e) { return "to " + e.PeerPort; };
  Start();
  Peer other;
  const Peer* peers[] = {&peer, &other};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.LineEnd);
    rec.Packets.clear();
    udp->SetFUDPLineEndRx(c.LineEnd);
    peer.SendTo(port, c.First);
    other.SendTo(port, c.Second);
    ASSERT_TRUE(WaitPackets(c.Expected.size()));
    PumpFor(std::chrono::milliseconds(30));
    ASSERT_EQ(rec.Packets.size(), c.Expected.size());
    for (size_t i = 0; i < c.Expected.size(); ++i) {
      const Peer& from = *peers[c.Expected[i].first];
      EXPECT_EQ(rec.Packets[i].Packet, c.Expected[i].second);
      EXPECT_EQ(rec.Packets[i].PeerPort, IntToStr(from.Port()));
      auto reply = from.Receive();
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->Bytes.substr(0, 3 + rec.Packets[i].PeerPort.size()),
                "to " + rec.Packets[i].PeerPort);
    }
  }
}

TEST_F(Gathering, PacketsAreBoundedAndNoLineIsLost) {
  udp->SetFUDPLineEndRx("CRLF");
  Start();
  // 40 datagrams of 4 KiB lines sent back to back would join into one 160 KiB packet.
  const std::string line(1022, 'x');
  std::string datagram;
  for (int i = 0; i < 4; ++i) datagram += line + "\r\n";
  for (int i = 0; i < 40; ++i) peer.SendTo(port, datagram);
  size_t lines = 0;
  ASSERT_TRUE(Pump([&] {
    lines = 0;
    for (const auto& p : rec.Packets) lines += (p.Packet.size() + 2) / (line.size() + 2);
    return lines >= 160;
  }));
  EXPECT_EQ(lines, 160u);
  EXPECT_GT(rec.Packets.size(), 1u);
  for (const auto& p : rec.Packets) EXPECT_LE(p.Packet.size(), TPacketGatherer::MaxPacketBytes);
}

TEST_F(Gathering, ALineOverTheLimitIsDroppedThroughItsEnd) {
  struct Case {
    const char* LineEnd;
    std::string End;
  };
  for (const Case& c : {Case{"CRLF", "\r\n"}, Case{"END", "END"}}) {
    SCOPED_TRACE(c.LineEnd);
    rec.Packets.clear();
    udp->SetFUDPLineEndRx(c.LineEnd);
    if (!udp->UDPActive()) Start();
    const std::string chunk(30000, 'L');
    for (int i = 0; i < 3; ++i) peer.SendTo(port, chunk);  // 90,000 bytes and no end yet
    peer.SendTo(port, "tail of the long line" + c.End + "next" + c.End);
    ASSERT_TRUE(WaitPackets(1));
    PumpFor(std::chrono::milliseconds(30));
    ASSERT_EQ(rec.Packets.size(), 1u);
    EXPECT_EQ(rec.Packets[0].Packet, "next");
  }
}

TEST_F(Gathering, WithUtf8LineEndsAreUtf8OnTheWireToo) {
  udp->SetFUTF8(true);
  udp->SetFUDPLineEndRx("\xC4\x8D");  // č, which is E8 in Windows-1250 and C4 8D in UTF-8
  udp->SetFUDPLineEndTx("\xC4\x8D");
  rec.Respond = [](const PacketEvent&) { return String("ok"); };
  Start();
  peer.SendTo(port, "ab\xC4\x8D");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "ab");
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Bytes, "ok\xC4\x8D");
  udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("q"));
  auto queued = peer.Receive();
  ASSERT_TRUE(queued);
  EXPECT_EQ(queued->Bytes, "q\xC4\x8D");
}

TEST_F(Gathering, AStopIsPromptUnderAFloodInEveryMode) {
  for (const char* lineEnd : {"", "CRLF", ";"}) {
    SCOPED_TRACE(lineEnd);
    udp->SetFUDPLineEndRx(lineEnd);
    udp->SetFUTF8(true);
    Start();
    std::atomic<bool> flooding{true};
    std::atomic<int> sent{0};
    std::thread flood([&] {
      const std::string chunk(1400, '\xC5');  // never a line end, never valid UTF-8
      while (flooding) {
        peer.SendTo(port, chunk);
        ++sent;
      }
    });
    ASSERT_TRUE(Pump([&] { return sent > 2000 && (lineEnd[0] != '\0' || !rec.Packets.empty()); }));
    auto t0 = std::chrono::steady_clock::now();
    udp->SetUDPActive(false);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(udp->UDPActive());
    flooding = false;
    flood.join();
    rec.Statuses.clear();
  }
}

// A burst already waiting on the socket when the thread looks is delivered in runs on the main
// thread: each cycle must still be what the thread alone would make of it.
class Burst : public ActiveUdpTest {
 protected:
  // The handler of "hold" sends the burst, so that all of it waits when the thread reads next.
  void SendDuringHold(std::vector<std::pair<const Peer*, std::string>> burst) {
    rec.Respond = [this, burst](const PacketEvent& e) {
      if (e.Packet == "hold")
        for (const auto& [from, bytes] : burst) from->SendTo(port, bytes);
      return Respond ? Respond(e) : String();
    };
  }
  std::vector<std::string> Drain(const Peer& p, size_t n) {
    std::vector<std::string> got;
    while (got.size() < n) {
      auto d = p.Receive();
      if (!d) break;
      got.push_back(d->Bytes);
    }
    return got;
  }
  std::function<String(const PacketEvent&)> Respond;
  Peer other;
};

TEST_F(Burst, EachCycleKeepsItsSenderItsResponseAndTheQueuedSendAfterIt) {
  std::vector<std::pair<const Peer*, std::string>> burst;
  for (int i = 0; i < 10; ++i) burst.push_back({i % 2 ? &other : &peer, "b" + std::to_string(i)});
  Respond = [this](const PacketEvent& e) {
    if (e.Packet == "b3" || e.Packet == "b6")
      udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("q" + e.Packet));
    return "r" + e.Packet;
  };
  SendDuringHold(burst);
  Start();
  peer.SendTo(port, "hold");
  ASSERT_TRUE(WaitPackets(11));
  for (size_t i = 1; i < rec.Packets.size(); ++i) {
    EXPECT_EQ(rec.Packets[i].Packet, burst[i - 1].second);
    EXPECT_EQ(rec.Packets[i].PeerPort, IntToStr(burst[i - 1].first->Port()));
  }
  EXPECT_EQ(Drain(peer, 8),
            (std::vector<std::string>{"rhold", "rb0", "rb2", "qb3", "rb4", "rb6", "qb6", "rb8"}));
  EXPECT_EQ(Drain(other, 5), (std::vector<std::string>{"rb1", "rb3", "rb5", "rb7", "rb9"}));
}

TEST_F(Burst, AHandlerThatSwitchesToLinesHasTheRestCutByLines) {
  Respond = [this](const PacketEvent& e) {
    if (e.Packet == "p1\r\n") udp->SetFUDPLineEndRx("CRLF");
    return String();
  };
  SendDuringHold({{&peer, "p1\r\n"}, {&peer, "p2\r\n"}, {&peer, "p3\r\n"}});
  Start();
  peer.SendTo(port, "hold");
  ASSERT_TRUE(WaitPackets(3));
  PumpFor(std::chrono::milliseconds(30));
  ASSERT_EQ(rec.Packets.size(), 3u);
  EXPECT_EQ(rec.Packets[1].Packet, "p1\r\n");
  EXPECT_EQ(rec.Packets[2].Packet, "p2\r\np3");
}

// A burst of several runs: every packet in arrival order with its own response, each cut and
// converted by the properties of its moment though a handler changes them mid-run.
TEST_F(Burst, ABurstOfSeveralRunsKeepsItsOrderAndEachPacketItsProperties) {
  constexpr int kBurst = 3 * int(TPacketGatherer::MaxQueued) + 5, kSwitch = 100;
  std::vector<std::pair<const Peer*, std::string>> burst;
  for (int i = 0; i < kBurst; ++i)
    burst.push_back({i % 3 ? &peer : &other, std::to_string(i) + "\xC5\x82"});  // ł in UTF-8
  Respond = [this](const PacketEvent& e) {
    if (e.Packet == "hold") return String("rhold");
    if (std::atoi(e.Packet.c_str()) == kSwitch) udp->SetFUTF8(true);
    return "r" + std::to_string(std::atoi(e.Packet.c_str()));
  };
  SendDuringHold(burst);
  Start();
  peer.SendTo(port, "hold");
  ASSERT_TRUE(WaitPackets(kBurst + 1));
  std::vector<std::string> toPeer{"rhold"}, toOther;
  for (int i = 0; i < kBurst; ++i) {
    const PacketEvent& e = rec.Packets[i + 1];
    const String tail = i <= kSwitch ? AnsiToString(RawByteString("\xC5\x82")) : "\xC5\x82";
    EXPECT_EQ(e.Packet, std::to_string(i) + tail) << i;
    EXPECT_EQ(e.PeerPort, IntToStr(burst[i].first->Port())) << i;
    (i % 3 ? toPeer : toOther).push_back("r" + std::to_string(i));
  }
  EXPECT_EQ(Drain(peer, toPeer.size()), toPeer);
  EXPECT_EQ(Drain(other, toOther.size()), toOther);
}

// While two senders talk, a backlog over the flood mark is read at once and what does not fit
// is dropped from the sender that holds most of the queue: the other's datagrams are kept and
// not left behind the backlog. A sender alone loses nothing to the mark.
TEST(FloodRule, TheFloodingSenderLosesItsSurplusAndNoOneElseLosesAnything) {
  struct Case {
    bool OtherFirst;            // the other sender was heard just before the flood
    int Before, Others, After;  // the flooder's datagrams before and after the other's ones
    size_t FloodKept;           // the flooder's datagrams gathered, the first ones in order
  };
  const Case cases[] = {{false, 150, 0, 0, 150}, {true, 100, 30, 10, 33}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.OtherFirst);
    TUDPBlockSocket sock;
    sock.CreateSocket();
    sock.Bind("127.0.0.1", "0");
    // Holds each case's backlog whole, even where the kernel grants only its default maximum.
    sock.SetRecvBufferSize(256 * 1024);
    TPacketGatherer g;
    g.SetOverloadBytes(16 * 1024);
    Peer flooder, other;
    auto numbered = [](char who, int i) {
      return who + std::to_string(i) + std::string(1000, '.');
    };
    std::vector<std::string> expected;
    if (c.OtherFirst) {
      other.SendTo(sock.GetLocalSinPort(), "first");
      expected.push_back("first");
    }
    for (int i = 0; i < c.Before + c.Others + c.After; ++i) {
      const bool others = i >= c.Before && i < c.Before + c.Others;
      const std::string d = numbered(others ? 'o' : 'f', others ? i - c.Before : i);
      (others ? other : flooder).SendTo(sock.GetLocalSinPort(), d);
      if (others || static_cast<size_t>(i) < c.FloodKept) expected.push_back(d);
    }
    std::vector<std::string> got;
    while (g.Poll(sock) && g.Gather(sock, RawByteString(), 0, nullptr))
      got.emplace_back(g.Packet());
    EXPECT_EQ(got, expected);
    const size_t sent = (c.OtherFirst ? 1 : 0) + c.Before + c.Others + c.After;
    EXPECT_EQ(g.Dropped(), sent - got.size());
  }
}

// Strangers on addresses of their own: 127.0.0.2 on, each address with `perAddress` ports.
std::vector<Peer> Strangers(int count, int perAddress = 1) {
  std::vector<Peer> out;
  for (int i = 0; i < count; ++i) out.emplace_back(INADDR_LOOPBACK + 1 + i / perAddress);
  return out;
}

// Each sender's unfinished line waits in its own buffer: the peer's line completes whatever
// strangers send between its fragments, and as many strangers as there are, while it is the
// preferred sender.
TEST_F(Gathering, ThePeersSplitLineSurvivesStrangersInBetween) {
  struct Case {
    const char *LineEnd, *Between;
    int Strangers;
    std::string End;
  };
  const Case cases[] = {
      {"CRLF", "junk\r\n", 1, "\r\n"},
      {"CRLF", "half a line", 1, "\r\n"},
      {";", "junk;", 1, ";"},
      {"CRLF", "half a line", 3 * int(TPacketGatherer::MaxSenders), "\r\n"},
  };
  udp->SetFUDPRxTimeout(5000);  // the terminator's wait, generous on a busy machine
  udp->SetFUDPPreferredIP("127.0.0.1");
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.LineEnd) + " " + c.Between + " x" + std::to_string(c.Strangers));
    udp->SetFUDPLineEndRx(c.LineEnd);
    auto strangers = Strangers(c.Strangers);
    rec.Packets.clear();
    peer.SendTo(port, "AT+SET");
    for (const Peer& s : strangers) s.SendTo(port, c.Between);
    peer.SendTo(port, "VOL=40" + c.End);
    ASSERT_TRUE(Pump([&] {
      return std::any_of(rec.Packets.begin(), rec.Packets.end(),
                         [](const PacketEvent& e) { return e.PeerIP == "127.0.0.1"; });
    }));
    PumpFor(std::chrono::milliseconds(30));
    for (const PacketEvent& e : rec.Packets) {
      if (e.PeerIP == "127.0.0.1")
        EXPECT_EQ(e.Packet, "AT+SETVOL=40");
      else
        EXPECT_EQ(e.Packet, "junk");  // a stranger's own complete line, nothing of the peer's
    }
  }
}

// A crowd of strangers, each sending little, fills the receive queue faster than a slow handler
// takes it: the preferred sender's paced commands all get through.
TEST_F(Gathering, ThePreferredSenderKeepsItsPlaceUnderARotatingFlood) {
  constexpr int kCommands = 200;
  udp->SetFUDPLineEndRx("CRLF");
  udp->SetFUDPPreferredIP("127.0.0.1");
  std::vector<int> got;
  rec.Respond = [&](const PacketEvent& e) {
    if (e.PeerIP == "127.0.0.1") {
      for (size_t at = 0; at <= e.Packet.size();) {  // lines that came together are joined
        const size_t end = std::min(e.Packet.find("\r\n", at), e.Packet.size());
        got.push_back(std::atoi(e.Packet.c_str() + at + 1));
        at = end + 2;
      }
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return String();
  };
  Start();
  auto strangers = Strangers(2 * 249, 2);  // 127.0.0.2 to 127.0.0.250, two ports each
  std::atomic<bool> done{false};
  std::thread flood([&] {
    // About 40,000 datagrams a second, far more than the handler takes, for as long as the peer
    // sends.
    for (size_t i = 0; !done; ++i) {
      strangers[i % strangers.size()].SendTo(port, "AT+SETVOL=0\r\n");
      if (i % 40 == 39) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::thread commands([&] {
    for (int i = 0; i < kCommands; ++i) {
      peer.SendTo(port, "#" + std::to_string(i) + "\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const bool all = Pump([&] { return got.size() >= kCommands; }, std::chrono::seconds(20));
  done = true;
  commands.join();
  flood.join();
  EXPECT_TRUE(all) << got.size() << " of " << kCommands;
  for (int i = 0; i < static_cast<int>(got.size()); ++i) EXPECT_EQ(got[i], i);
}

TEST(FloodRule, ThePreferredSendersDatagramsGoAheadOfACrowd) {
  TUDPBlockSocket sock;
  sock.CreateSocket();
  sock.Bind("127.0.0.1", "0");
  sock.SetRecvBufferSize(256 * 1024);
  TPacketGatherer g;
  g.SetPreferred(htonl(INADDR_LOOPBACK));
  Peer preferred;
  auto crowd = Strangers(150);
  std::vector<std::string> mine;
  for (int i = 0; i < 150; ++i) {
    crowd[i].SendTo(sock.GetLocalSinPort(), "stranger");
    if (i % 30 == 29) {
      mine.push_back("peer" + std::to_string(i));
      preferred.SendTo(sock.GetLocalSinPort(), mine.back());
    }
  }
  std::vector<std::string> got;
  while (g.Poll(sock) && g.Gather(sock, RawByteString(), 0, nullptr)) got.emplace_back(g.Packet());
  ASSERT_GE(got.size(), mine.size());
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + mine.size()), mine);
  EXPECT_EQ(got.size() + g.Dropped(), 150 + mine.size());
}

namespace {

// A gatherer on its own socket, fed by a loopback peer.
struct TLineBench {
  TLineBench() {
    Sock.CreateSocket();
    Sock.Bind("127.0.0.1", "0");
  }
  void Send(const std::string& d) { From.SendTo(Sock.GetLocalSinPort(), d); }
  // The next packet by CR LF lines, once something has arrived; nothing when no line is complete.
  std::optional<std::string> Next() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!G.Poll(Sock) && std::chrono::steady_clock::now() < end) Sock.CanRead(10);
    if (!G.Gather(Sock, RawByteString("\r\n"), 100, nullptr)) return std::nullopt;
    return std::string(G.Packet());
  }
  TUDPBlockSocket Sock;
  TPacketGatherer G;
  Peer From;
};

}  // namespace

// A complete line never waits for an unfinished fragment behind it, whether the fragment comes
// in the same datagram or right after; the fragment begins the sender's next line.
TEST(LineMode, ACompleteLineGoesOutAtOnceAndTheFragmentWaitsInItsSendersBuffer) {
  struct TCase {
    std::vector<std::string> Datagrams;
    std::string First;
  };
  const TCase cases[] = {
      {{"whole\r\npart"}, "whole"},
      {{"whole\r\n", "part"}, "whole"},
      {{"a\r\nb\nc\r\npart"}, "a\r\nb\r\nc"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Datagrams[0]);
    TLineBench b;
    b.G.SetLineReadMs(60000);  // were the fragment waited for, the 5 s budget would show
    for (const std::string& d : c.Datagrams) b.Send(d);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(b.Next(), c.First);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
    EXPECT_TRUE(b.G.Holding());
    b.Send("ner\r\n");
    EXPECT_EQ(b.Next(), "partner");
    EXPECT_FALSE(b.G.HasDroppedLines());
  }
}

// A line whose end does not come in time is dropped even when its sender says nothing more, and
// the drop is noted with the sender, the bytes and the reason; over-long lines likewise.
TEST(LineMode, ADroppedLineIsNotedWithItsSenderAndReason) {
  TLineBench b;
  b.G.SetLineReadMs(50);
  b.Send("part");
  EXPECT_EQ(b.Next(), std::nullopt);
  ASSERT_TRUE(Pump([&] {
    b.G.ExpireLines();
    return b.G.HasDroppedLines();
  }));
  auto drops = b.G.TakeDroppedLines();
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(ntohs(drops[0].From.sin_port), b.From.Port());
  EXPECT_EQ(drops[0].Lines, 1u);
  EXPECT_EQ(drops[0].Bytes, 4u);
  EXPECT_EQ(TPacketGatherer::DropReason(drops[0].Why, b.G.LineWaitMs()),
            "no line end within 50 ms");
  EXPECT_FALSE(b.G.HasDroppedLines());
  b.Send("next\r\n");
  EXPECT_EQ(b.Next(), "next");

  b.G.SetLineReadMs(60000);
  const std::string chunk(30000, 'L');
  for (int i = 0; i < 3; ++i) b.Send(chunk);
  EXPECT_EQ(b.Next(), std::nullopt);  // every datagram received so far is taken
  drops = b.G.TakeDroppedLines();
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(TPacketGatherer::DropReason(drops[0].Why, 60000), "no line end within 65536 bytes");
  EXPECT_EQ(TPacketGatherer::DropReason(TPacketGatherer::TLineDrop::NoEnd, 5000),
            "no line end within 5 s");
}
