// Receiving: packet cutting by the receive line end, the texts the handler sees, responses and
// queued sends, over real loopback sockets.
#include <gtest/gtest.h>

#include <qx/net/synachar.h>
#include <qx/udp_link/PacketText.h>
#include "UdpTestKit.h"

class Receive : public ActiveUdpTest {};

TEST_F(Receive, TheRequestExampleInLineMode) {
  udp->SetFUDPLineEndRx("CRLF");
  rec.Respond = [](const PacketEvent&) { return String("OK"); };
  Start();
  peer.SendTo(port, "AT+SETVOL=40\r\n");
  ASSERT_TRUE(WaitPackets(1));
  const auto& e = rec.Packets[0];
  EXPECT_EQ(e.Sender, udp.get());
  EXPECT_EQ(e.Packet, "AT+SETVOL=40");
  EXPECT_EQ(e.Hex, "HEX(12) 41542B534554564F4C3D3430");
  EXPECT_EQ(e.PeerIP, "127.0.0.1");
  EXPECT_EQ(e.PeerPort, IntToStr(peer.Port()));
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Bytes, "OK\r\n");
  EXPECT_EQ(reply->FromPort, port);
}

TEST_F(Receive, TheRequestExampleInDatagramMode) {
  rec.Respond = [](const PacketEvent&) { return String("OK"); };
  Start();
  peer.SendTo(port, "AT+SETVOL=40\r\n");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "AT+SETVOL=40\r\n");
  EXPECT_EQ(rec.Packets[0].Hex, "HEX(14) 41542B534554564F4C3D34300D0A");
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Bytes, "OK");
}

TEST_F(Receive, TwoLinesInOneDatagramMakeOneJoinedPacket) {
  udp->SetFUDPLineEndRx("crlf");  // any letter case
  Start();
  peer.SendTo(port, "A\r\nBC\r\n");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "A\r\nBC");
  EXPECT_EQ(rec.Packets[0].Hex, "HEX(5) 410D0A4243");
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(rec.Packets.size(), 1u);
}

TEST_F(Receive, CrModeAcceptsLfAndCrLfAndAnswersWithCr) {
  udp->SetFUDPLineEndRx("CR");
  rec.Respond = [](const PacketEvent& e) { return "got " + e.Packet; };
  Start();
  peer.SendTo(port, "one\n");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "one");
  auto r1 = peer.Receive();
  ASSERT_TRUE(r1);
  EXPECT_EQ(r1->Bytes, "got one\r");
  peer.SendTo(port, "a\r\nb\r\n");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_EQ(rec.Packets[1].Packet, "a\rb");
}

TEST_F(Receive, CustomTerminators) {
  udp->SetFUDPLineEndRx(";");
  Start();
  peer.SendTo(port, "X;Y;");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "X;Y");
  // "LF" is the two letters, not a line feed.
  udp->SetFUDPLineEndRx("LF");
  peer.SendTo(port, "upLFdownLF");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_EQ(rec.Packets[1].Packet, "upLFdown");
}

TEST_F(Receive, BackToBackDatagramsAreSeparatePacketsInDatagramMode) {
  Start();
  peer.SendTo(port, "first");
  peer.SendTo(port, "second\r\n");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_EQ(rec.Packets[0].Packet, "first");
  EXPECT_EQ(rec.Packets[1].Packet, "second\r\n");
}

TEST_F(Receive, EmptyDatagramsRaiseNothing) {
  Start();
  peer.SendTo(port, "");
  peer.SendTo(port, "x");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Packet, "x");
}

TEST_F(Receive, Utf8BothWays) {
  udp->SetFUTF8(true);
  udp->SetFUDPLineEndRx("CRLF");
  rec.Respond = [](const PacketEvent& e) { return e.Packet; };  // echo the text back
  Start();
  peer.SendTo(port, "\xC5\x82\r\n");  // ł in UTF-8
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(rec.Packets[0].Hex, "HEX(2) C582");
  EXPECT_EQ(StringToAnsi(rec.Packets[0].Packet), RawByteString("\xB3"));
  EXPECT_EQ(rec.Packets[0].Packet, "\xC5\x82");
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Bytes, "\xC5\x82\r\n");
}

TEST_F(Receive, ResponsesUseTheReceiveLineEndQueuedSendsTheTransmitOne) {
  udp->SetFUDPLineEndRx("CRLF");
  udp->SetFUDPLineEndTx("CR");
  rec.Respond = [](const PacketEvent&) { return String("R"); };
  Start();
  peer.SendTo(port, "q\r\n");
  auto r = peer.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Bytes, "R\r\n");
  udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("S"));
  auto s = peer.Receive();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Bytes, "S\r");
  EXPECT_EQ(s->FromPort, port);
}

TEST_F(Receive, QueuedSendsLeaveInOrderFromTheReceivePort) {
  udp->SetFUDPLineEndTx("CRLF");
  Start();
  for (const char* m : {"one", "two", "three"})
    udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString(m));
  for (const char* m : {"one\r\n", "two\r\n", "three\r\n"}) {
    auto got = peer.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Bytes, m);
    EXPECT_EQ(got->FromPort, port);
  }
}

TEST_F(Receive, QueuedSendsAreConvertedToUtf8AndEmptyOnesDropped) {
  udp->SetFUTF8(true);
  Start();
  udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString(""));
  udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("\xA3"));
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Bytes, "\xC5\x81");
}

TEST_F(Receive, SendsWhileInactiveGoNowhere) {
  udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("lost"));
  EXPECT_FALSE(peer.Receive(std::chrono::milliseconds(100)));
}

TEST_F(Receive, ABroadcastDestinationIsRefusedWhileBroadcastIsOff) {
  // Nothing leaves the machine: the socket refuses the destination; the next entry still goes.
  Start();
  udp->UDPServerSendTo("255.255.255.255", IntToStr(peer.Port()), RawByteString("no"));
  udp->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("yes"));
  auto got = peer.Receive();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Bytes, "yes");
}

TEST_F(Receive, ARxTimeoutBelowOneIsRaisedToOneOnTheNextRead) {
  udp->SetFUDPRxTimeout(0);
  Start();
  EXPECT_EQ(udp->UDPRxTimeout(), 0);
  peer.SendTo(port, "x");
  ASSERT_TRUE(WaitPackets(1));
  EXPECT_EQ(udp->UDPRxTimeout(), 1);
}

TEST_F(Receive, ARxTimeoutBelowOneIsRaisedBeforeTheHandlerOfTheFirstPacket) {
  udp->SetFUDPRxTimeout(-5);
  std::vector<int32_t> seen;
  rec.Respond = [&](const PacketEvent&) {
    seen.push_back(udp->UDPRxTimeout());
    return String();
  };
  Start();
  PumpFor(std::chrono::milliseconds(30));
  EXPECT_EQ(udp->UDPRxTimeout(), -5);  // nothing read yet
  peer.SendTo(port, "x");
  peer.SendTo(port, "y");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 1}));
}

// The complete line goes out at once; the fragment after it waits for its end, and once its
// time is up it is dropped and the application is told who sent it and why.
TEST_F(Receive, AnUnfinishedLineIsReportedWhenDroppedAndCompleteLinesStillArrive) {
  struct TDrop {
    String Ip, Port, Reason;
    int32_t Lines, Bytes;
  };
  std::vector<TDrop> drops;
  udp->SetFOnLineDropped(TOnLineDropped::Callable(
      [&](TObject* s, String ip, String port, int32_t lines, int32_t bytes, String reason) {
        EXPECT_EQ(s, udp.get());
        drops.push_back({ip, port, reason, lines, bytes});
      }));
  udp->SetFUDPLineEndRx("CRLF");
  Start();
  const auto sent = std::chrono::steady_clock::now();
  peer.SendTo(port, "whole\r\npart");
  ASSERT_TRUE(WaitPackets(1));
  // Far below the line's 5 s: nothing waited for "part".
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(2500));
  EXPECT_EQ(rec.Packets[0].Packet, "whole");
  ASSERT_TRUE(Pump([&] { return !drops.empty(); }, std::chrono::seconds(15)));
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].Ip, "127.0.0.1");
  EXPECT_EQ(drops[0].Port, IntToStr(peer.Port()));
  EXPECT_EQ(drops[0].Lines, 1);
  EXPECT_EQ(drops[0].Bytes, 4);
  EXPECT_EQ(drops[0].Reason, "no line end within 5 s");
  peer.SendTo(port, "next\r\n");
  ASSERT_TRUE(WaitPackets(2));
  EXPECT_EQ(rec.Packets[1].Packet, "next");
  EXPECT_EQ(rec.Packets.size(), 2u);
}

TEST_F(Receive, AStopIsPromptWhileALineNeverCompletes) {
  udp->SetFUDPLineEndRx("CRLF");
  Start();
  peer.SendTo(port, "never ends");
  PumpFor(std::chrono::milliseconds(50));  // the thread now waits for the rest of the line
  auto t0 = std::chrono::steady_clock::now();
  udp->SetUDPActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_FALSE(udp->UDPActive());
  EXPECT_TRUE(rec.Packets.empty());
}

TEST(Conversions, Windows1250AndUtf8) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  EXPECT_EQ(u->ConvertUTF8toWin1250(RawByteString("\xC5\x81")), RawByteString("\xA3"));
  EXPECT_EQ(u->ConvertWin1250toUTF8(RawByteString("\xA3")), RawByteString("\xC5\x81"));
}

TEST(LineEnds, TheRule) {
  EXPECT_EQ(LineEndBytes("CRLF"), RawByteString("\r\n"));
  EXPECT_EQ(LineEndBytes("crLf"), RawByteString("\r\n"));
  EXPECT_EQ(LineEndBytes("cr"), RawByteString("\r"));
  EXPECT_EQ(LineEndBytes("LF"), RawByteString("LF"));
  EXPECT_EQ(LineEndBytes(";"), RawByteString(";"));
  EXPECT_EQ(LineEndBytes(""), RawByteString(""));
  EXPECT_EQ(HexForm(RawByteString("\x00\xff", 2)), "HEX(2) 00FF");
  EXPECT_EQ(HexForm(RawByteString()), "HEX(0) ");
}
