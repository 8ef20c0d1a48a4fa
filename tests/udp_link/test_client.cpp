// One-shot sends: the datagram, the replies and the responses to them, over loopback.
#include <gtest/gtest.h>
#include <qx/udp_link/UDPClientThread.h>

#include <thread>

#include "UdpTestKit.h"

class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    udp.reset(new TQxUDPS(nullptr));
    rec.Attach(udp.get());
  }
  bool WaitPackets(size_t n) {
    return Pump([&] { return rec.Packets.size() >= n; });
  }
  TOwned<TQxUDPS> udp;
  Recorder rec;
  Peer peer;
};

TEST_F(Client, TheTransmitLineEndFollowsThePayload) {
  const std::pair<const char*, const char*> cases[] = {
      {"crlf", "hi\r\n"}, {"CR", "hi\r"}, {"", "hi"}, {"LF", "hiLF"}};
  for (auto [lineEnd, expected] : cases) {
    udp->SetFUDPLineEndTx(lineEnd);
    udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "hi");
    auto got = peer.Receive();
    ASSERT_TRUE(got) << lineEnd;
    EXPECT_EQ(got->Bytes, expected);
    EXPECT_NE(got->FromPort, 0);
  }
}

TEST_F(Client, AnEmptyPayloadOrABadDestinationSendsNothing) {
  udp->SetFUDPLineEndTx("CRLF");
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "");
  udp->UDPClientSendTo("no-such-host.invalid", IntToStr(peer.Port()), "x");
  EXPECT_FALSE(peer.Receive(std::chrono::milliseconds(300)));
  EXPECT_TRUE(rec.Packets.empty());
  EXPECT_TRUE(rec.Statuses.empty());
}

TEST_F(Client, RepliesAreGatheredByTheReceiveLineEnd) {
  udp->SetFUDPLineEndRx("CRLF");
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "q");
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  peer.SendTo(got->FromPort, "a\nb\r\n");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "a\r\nb");
  EXPECT_EQ(rec.Packets[0].Hex, "HEX(4) 610D0A62");  // the reply's own hex form
  EXPECT_EQ(rec.Packets[0].PeerIP, "127.0.0.1");
  EXPECT_EQ(rec.Packets[0].PeerPort, IntToStr(peer.Port()));
}

TEST_F(Client, WholeDatagramsWithoutAReceiveLineEnd) {
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "q");
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  peer.SendTo(got->FromPort, "one\r\n");
  peer.SendTo(got->FromPort, "two");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_EQ(rec.Packets[0].Packet, "one\r\n");
  EXPECT_EQ(rec.Packets[1].Packet, "two");
}

TEST_F(Client, AResponseGoesBackWithTheTransmitLineEndAndNoneWhenEmpty) {
  udp->SetFUDPLineEndTx("CR");
  rec.Respond = [](const PacketEvent& e) { return e.Packet == "ping" ? String("pong") : String(); };
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "q");
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  peer.SendTo(got->FromPort, "ping");
  auto resp = peer.Receive();
  ASSERT_TRUE(resp);
  EXPECT_EQ(resp->Bytes, "pong\r");
  peer.SendTo(got->FromPort, "quiet");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_FALSE(peer.Receive(std::chrono::milliseconds(200)));
}

TEST_F(Client, WithoutRepliesTheSendEndsAfterAboutASecond) {
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "q");
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  PumpFor(std::chrono::milliseconds(1600));
  peer.SendTo(got->FromPort, "too late");
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_TRUE(rec.Packets.empty());
}

TEST_F(Client, RepliesWithinASecondOfEachOtherKeepTheSendAlive) {
  rec.Respond = [](const PacketEvent&) { return String("again"); };
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "q");
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  for (int i = 0; i < 3; ++i) {
    PumpFor(std::chrono::milliseconds(600));
    peer.SendTo(got->FromPort, "r" + std::to_string(i));
    auto resp = peer.Receive();
    ASSERT_TRUE(resp) << i;
    EXPECT_EQ(resp->Bytes, "again");
  }
  EXPECT_EQ(rec.Packets.size(), 3u);
}

TEST_F(Client, ConcurrentSendsKeepEachReplyWithItsPeer) {
  constexpr int kPeers = 4;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < kPeers; ++i) peers.push_back(std::make_unique<Peer>());
  rec.Respond = [](const PacketEvent& e) { return "ack " + e.Packet; };
  std::vector<int> ports(kPeers);
  for (int i = 0; i < kPeers; ++i)
    udp->UDPClientSendTo("127.0.0.1", IntToStr(peers[i]->Port()), "q");
  for (int i = 0; i < kPeers; ++i) {
    auto got = peers[i]->Receive();
    ASSERT_TRUE(got);
    ports[i] = got->FromPort;
  }
  // Interleaved replies from every peer, sent from other threads at once.
  std::vector<std::thread> senders;
  for (int i = 0; i < kPeers; ++i)
    senders.emplace_back([&, i] {
      for (int k = 0; k < 5; ++k)
        peers[i]->SendTo(ports[i], "p" + std::to_string(peers[i]->Port()));
    });
  for (auto& t : senders) t.join();
  ASSERT_TRUE(WaitPackets(kPeers * 5));
  for (const auto& e : rec.Packets) EXPECT_EQ(e.Packet, "p" + e.PeerPort);
  for (int i = 0; i < kPeers; ++i)
    for (int k = 0; k < 5; ++k) {
      auto r = peers[i]->Receive();
      ASSERT_TRUE(r);
      EXPECT_EQ(r->Bytes, "ack p" + std::to_string(peers[i]->Port()));
    }
}

TEST_F(Client, Utf8BothWays) {
  udp->SetFUTF8(true);
  udp->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "\xC5\x81\xC3\xB3\xC5\xBA");  // Łóź
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Bytes, "\xC5\x81\xC3\xB3\xC5\xBA");
  peer.SendTo(got->FromPort, "\xC5\x82");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "\xC5\x82");
  EXPECT_EQ(rec.Packets[0].Hex, "HEX(2) C582");
}

TEST(ClientBroadcast, DecidedByTheDestinationText) {
  // Checked without sending: these addresses are not ours to send to.
  EXPECT_TRUE(ClientSendWantsBroadcast("192.168.1.255"));
  EXPECT_TRUE(ClientSendWantsBroadcast("10.0.255.7"));
  EXPECT_FALSE(ClientSendWantsBroadcast("192.168.1.25"));
}

TEST(ClientLifetime, DestroyingTheComponentDuringSendsTouchesNothingFreed) {
  Peer peer;
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  Recorder rec;
  rec.Attach(u.get());
  for (int i = 0; i < 3; ++i) u->UDPClientSendTo("127.0.0.1", IntToStr(peer.Port()), "q");
  std::vector<int> ports;
  for (int i = 0; i < 3; ++i) {
    auto got = peer.Receive();
    ASSERT_TRUE(got);
    ports.push_back(got->FromPort);
  }
  // A reply is on its way to the main thread when the component goes.
  peer.SendTo(ports[0], "r");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  u.reset();
  for (int p : ports) peer.SendTo(p, "after");
  PumpFor(std::chrono::milliseconds(1500));
  EXPECT_TRUE(rec.Packets.empty());
}
