// TUDPBlockSocket over real loopback sockets (127.0.0.1 only), on ports the system chooses.
#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <cerrno>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <qx/net/blcksock.h>

namespace {

using Clock = std::chrono::steady_clock;

RawByteString B(std::string_view s) {
  return RawByteString::FromBytes(s);
}

String PortOf(const TUDPBlockSocket& s) {
  return IntToStr(s.GetLocalSinPort());
}

// A receiver on 127.0.0.1 and a sender whose destination is the receiver.
class UDPBlockSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Receiver.CreateSocket();
    Receiver.Bind("127.0.0.1", "0");
    ASSERT_EQ(Receiver.LastError(), 0) << Receiver.LastErrorDesc();
    Sender = MakePeer();
  }

  TUDPBlockSocket MakePeer() {
    TUDPBlockSocket peer;
    peer.CreateSocket();
    peer.Bind("127.0.0.1", "0");
    peer.Connect("127.0.0.1", PortOf(Receiver));
    EXPECT_EQ(peer.LastError(), 0) << peer.LastErrorDesc();
    return peer;
  }

  void Send(std::string_view bytes) {
    Sender.SendString(B(bytes));
    ASSERT_EQ(Sender.LastError(), 0) << Sender.LastErrorDesc();
  }

  TUDPBlockSocket Receiver;
  TUDPBlockSocket Sender;
};

}  // namespace

TEST_F(UDPBlockSocketTest, DatagramsArriveWholeUpToTheLargest) {
  Send("hello\r\nworld\r\n");
  EXPECT_EQ(Receiver.RecvPacket(5000), B("hello\r\nworld\r\n"));
  EXPECT_EQ(Receiver.LastError(), 0);
  EXPECT_EQ(Receiver.LastErrorDesc(), "");

  std::string largest(TUDPBlockSocket::MaxDatagram, '\0');
  for (size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<char>(i * 7 + i / 256);
  Send(largest);
  EXPECT_EQ(Receiver.RecvPacket(5000), B(largest));

  Sender.SendString(B(largest + "x"));
  EXPECT_EQ(Sender.LastError(), WSAEMSGSIZE);

  // An empty datagram is data too: empty result, but no error.
  Send("");
  EXPECT_TRUE(Receiver.RecvPacket(5000).empty());
  EXPECT_EQ(Receiver.LastError(), 0);
}

TEST_F(UDPBlockSocketTest, TwoLinesInOneDatagramAreHeldAndReadInTurn) {
  Receiver.ConvertLineEnd = true;
  Send("first\r\nsecond\r\n");
  EXPECT_EQ(Receiver.RecvString(5000), B("first"));
  EXPECT_EQ(Receiver.HeldBytes(), 8u);
  EXPECT_TRUE(Receiver.CanReadEx(0));
  EXPECT_FALSE(Receiver.CanRead(0));  // nothing new on the socket itself
  EXPECT_EQ(Receiver.RecvString(5000), B("second"));
  EXPECT_EQ(Receiver.HeldBytes(), 0u);
  EXPECT_FALSE(Receiver.CanReadEx(0));

  // RecvPacket hands out held bytes before the next datagram.
  Send("a\r\nrest");
  Send("next");
  EXPECT_EQ(Receiver.RecvString(5000), B("a"));
  EXPECT_EQ(Receiver.RecvPacket(5000), B("rest"));
  EXPECT_EQ(Receiver.RecvPacket(5000), B("next"));
}

TEST_F(UDPBlockSocketTest, LineSplitAcrossDatagrams) {
  Receiver.ConvertLineEnd = true;
  Send("AT+SET");
  Send("VOL=40\r\n");
  EXPECT_EQ(Receiver.RecvString(5000), B("AT+SETVOL=40"));

  // The CR and LF of one line end in two datagrams count once.
  Send("x\r");
  Send("\ny\r\n");
  EXPECT_EQ(Receiver.RecvString(5000), B("x"));
  EXPECT_EQ(Receiver.RecvString(5000), B("y"));

  // A datagram holding only that LF is no data: a gathering loop is not sent into a long read.
  Send("z\r");
  EXPECT_EQ(Receiver.RecvString(5000), B("z"));
  Send("\n");
  EXPECT_FALSE(Receiver.CanReadEx(300));
  EXPECT_EQ(Receiver.HeldBytes(), 0u);
}

TEST_F(UDPBlockSocketTest, LineEndsWithAndWithoutConvertLineEnd) {
  const std::string mixed = "a\rb\nc\r\nd\r\n";
  Receiver.ConvertLineEnd = true;
  Send(mixed);
  for (const char* expected : {"a", "b", "c", "d"})
    EXPECT_EQ(Receiver.RecvString(5000), B(expected));

  Receiver.ConvertLineEnd = false;  // only CR LF ends a line
  Send(mixed);
  EXPECT_EQ(Receiver.RecvString(5000), B("a\rb\nc"));
  EXPECT_EQ(Receiver.RecvString(5000), B("d"));

  Send("split\r");
  Send("\n");
  EXPECT_EQ(Receiver.RecvString(5000), B("split"));
}

TEST_F(UDPBlockSocketTest, CustomTerminatorsOfOneAndSeveralBytes) {
  Send("X;Y;");
  EXPECT_EQ(Receiver.RecvTerminated(5000, B(";")), B("X"));
  EXPECT_TRUE(Receiver.CanReadEx(0));
  EXPECT_EQ(Receiver.RecvTerminated(5000, B(";")), B("Y"));
  EXPECT_FALSE(Receiver.CanReadEx(0));

  Send("one<EN");
  Send("D>two<END>");
  EXPECT_EQ(Receiver.RecvTerminated(5000, B("<END>")), B("one"));
  EXPECT_EQ(Receiver.RecvTerminated(5000, B("<END>")), B("two"));

  EXPECT_TRUE(Receiver.RecvTerminated(0, RawByteString()).empty());
  EXPECT_EQ(Receiver.LastError(), WSAEINVAL);
}

TEST_F(UDPBlockSocketTest, TimeOutsGiveEmptyDataAnd10060ThenSuccessClearsIt) {
  EXPECT_TRUE(Receiver.RecvPacket(30).empty());
  EXPECT_EQ(Receiver.LastError(), 10060);
  EXPECT_EQ(Receiver.LastErrorDesc(), "Connection timed out");
  EXPECT_FALSE(Receiver.CanRead(30));
  EXPECT_EQ(Receiver.LastError(), 0);

  // An unterminated remainder is dropped when the read runs out of time, so a caller gathering
  // while CanReadEx is true comes to an end.
  Send("no end");
  EXPECT_TRUE(Receiver.RecvTerminated(30, B(";")).empty());
  EXPECT_EQ(Receiver.LastError(), 10060);
  EXPECT_EQ(Receiver.HeldBytes(), 0u);
  EXPECT_FALSE(Receiver.CanReadEx(0));

  Send("ok;");
  EXPECT_EQ(Receiver.RecvTerminated(5000, B(";")), B("ok"));
  EXPECT_EQ(Receiver.LastError(), 0);
  EXPECT_EQ(Receiver.LastErrorDesc(), "");
}

TEST_F(UDPBlockSocketTest, ReadTimeOutIsTotalNotPerDatagram) {
  // A sender trickling pieces that never end a line must not keep one read going.
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    TUDPBlockSocket peer = MakePeer();
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (!done && Clock::now() < until) {
      peer.SendString(B("."));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  Receiver.ConvertLineEnd = true;
  const auto start = Clock::now();
  EXPECT_TRUE(Receiver.RecvString(200).empty());
  const auto took = Clock::now() - start;
  done = true;
  trickle.join();
  EXPECT_EQ(Receiver.LastError(), 10060);
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST_F(UDPBlockSocketTest, EndlessLineIsDroppedAtTheHeldLimit) {
  // Paced so that the receive queue never overflows: every piece must arrive.
  const std::string piece(60000, 'a');
  const size_t count = TUDPBlockSocket::MaxHeldBytes / piece.size() + 2;
  std::thread flood([&] {
    for (size_t i = 0; i < count; ++i) {
      Sender.SendString(B(piece));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  Receiver.ConvertLineEnd = true;
  EXPECT_TRUE(Receiver.RecvString(20000).empty());
  flood.join();
  EXPECT_EQ(Receiver.LastError(), WSAEMSGSIZE);
  EXPECT_EQ(Receiver.HeldBytes(), 0u);
}

TEST_F(UDPBlockSocketTest, ResetLineBufferDropsHeldBytes) {
  Receiver.ConvertLineEnd = true;
  Send("a\r\npartial");
  EXPECT_EQ(Receiver.RecvString(5000), B("a"));
  EXPECT_EQ(Receiver.HeldBytes(), 7u);
  Receiver.ResetLineBuffer();
  EXPECT_EQ(Receiver.HeldBytes(), 0u);
  EXPECT_FALSE(Receiver.CanReadEx(0));
}

TEST_F(UDPBlockSocketTest, BindingAPortAlreadyHeldFailsWith10048AndStaysVisible) {
  TUDPBlockSocket second;
  second.CreateSocket();
  second.Bind("127.0.0.1", PortOf(Receiver));
  EXPECT_EQ(second.LastError(), 10048);
  EXPECT_EQ(second.LastErrno(), EADDRINUSE);  // the system's words stay at hand
  EXPECT_EQ(second.LastErrorDesc(), "Address already in use");
  // The option set after binding must not hide the failure from a caller that checks after it.
  second.SetMulticastTTL(64);
  EXPECT_EQ(second.LastError(), 10048);

  TUDPBlockSocket foreign;
  foreign.Bind("192.0.2.1", "0");  // an address this host does not have; nothing is sent
  EXPECT_EQ(foreign.LastError(), 10049);
  EXPECT_EQ(foreign.LastErrno(), EADDRNOTAVAIL);
}

TEST_F(UDPBlockSocketTest, RepliesGoToTheSenderReadLast) {
  TUDPBlockSocket other = MakePeer();
  Send("from sender");
  other.SendString(B("from other"));

  EXPECT_EQ(Receiver.RecvPacket(5000), B("from sender"));
  EXPECT_EQ(Receiver.GetRemoteSinIP(), "127.0.0.1");
  EXPECT_EQ(Receiver.GetRemoteSinPort(), Sender.GetLocalSinPort());
  Receiver.SendString(B("reply 1"));
  EXPECT_EQ(Sender.RecvPacket(5000), B("reply 1"));

  EXPECT_EQ(Receiver.RecvPacket(5000), B("from other"));
  EXPECT_EQ(Receiver.GetRemoteSinPort(), other.GetLocalSinPort());
  Receiver.SendString(B("reply 2"));
  EXPECT_EQ(other.RecvPacket(5000), B("reply 2"));
  EXPECT_FALSE(Sender.CanRead(50));

  // Connect only sets the destination: the socket still hears every sender.
  Receiver.Connect("127.0.0.1", PortOf(Sender));
  Receiver.SendString(B("explicit"));
  EXPECT_EQ(Sender.RecvPacket(5000), B("explicit"));
  other.SendString(B("still heard"));
  EXPECT_EQ(Receiver.RecvPacket(5000), B("still heard"));
}

TEST_F(UDPBlockSocketTest, NamesAreResolved) {
  TUDPBlockSocket byName;
  byName.CreateSocket();
  byName.Connect("localhost", PortOf(Receiver));
  ASSERT_EQ(byName.LastError(), 0) << byName.LastErrorDesc();
  byName.SendString(B("by name"));
  EXPECT_EQ(Receiver.RecvPacket(5000), B("by name"));
  EXPECT_EQ(Receiver.GetRemoteSinIP(), "127.0.0.1");

  byName.Connect("127.0.0.1", "no-such-service-qx");
  EXPECT_EQ(byName.LastError(), WSATYPE_NOT_FOUND);
  byName.Connect("127.0.0.1", "70000");
  EXPECT_EQ(byName.LastError(), WSATYPE_NOT_FOUND);
  byName.Connect("no-such-host.invalid", "9");
  EXPECT_TRUE(byName.LastError() == WSAHOST_NOT_FOUND || byName.LastError() == WSATRY_AGAIN ||
              byName.LastError() == WSANO_DATA)
      << byName.LastError();
  EXPECT_FALSE(byName.LastErrorDesc().empty());
  byName.Connect("0.0.0.0", "9");
  EXPECT_EQ(byName.LastError(), WSAEADDRNOTAVAIL);
  byName.Connect("127.0.0.1", "0");
  EXPECT_EQ(byName.LastError(), WSAEADDRNOTAVAIL);

  if (getservbyname("discard", "udp") == nullptr) GTEST_SKIP() << "no services database";
  byName.Connect("127.0.0.1", "discard");
  EXPECT_EQ(byName.LastError(), 0);
  EXPECT_EQ(byName.GetRemoteSinPort(), 9);
}

TEST(UDPBlockSocket, OptionsAreKeptUntilTheSocketExistsAndBroadcastIsRefusedWhenOff) {
  TUDPBlockSocket s;
  s.SetTimeout(20000);
  s.SetMulticastTTL(64);
  s.EnableBroadcast(false);
  EXPECT_EQ(s.Socket(), -1);
  s.CreateSocket();
  ASSERT_GE(s.Socket(), 0);

  int value = 0;
  socklen_t len = sizeof value;
  getsockopt(s.Socket(), IPPROTO_IP, IP_MULTICAST_TTL, &value, &len);
  EXPECT_EQ(value, 64);
  timeval tv{};
  len = sizeof tv;
  getsockopt(s.Socket(), SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
  EXPECT_EQ(tv.tv_sec, 20);
  len = sizeof tv;
  getsockopt(s.Socket(), SOL_SOCKET, SO_SNDTIMEO, &tv, &len);
  EXPECT_EQ(tv.tv_sec, 20);

  // The kernel refuses the datagram, so nothing leaves the host.
  s.Connect("255.255.255.255", "9");
  ASSERT_EQ(s.LastError(), 0);
  s.SendString(B("x"));
  EXPECT_EQ(s.LastError(), 10013);
  EXPECT_EQ(s.LastErrorDesc(), "Permission denied");

  s.EnableBroadcast(true);  // checked without sending
  len = sizeof value;
  getsockopt(s.Socket(), SOL_SOCKET, SO_BROADCAST, &value, &len);
  EXPECT_EQ(value, 1);

  s.SetMulticastTTL(300);
  EXPECT_EQ(s.LastError(), WSAEINVAL);
}

TEST(UDPBlockSocket, WithoutSocketOrDestination) {
  TUDPBlockSocket s;
  EXPECT_TRUE(s.RecvPacket(0).empty());
  EXPECT_EQ(s.LastError(), WSAENOTSOCK);
  EXPECT_FALSE(s.CanRead(0));
  EXPECT_EQ(s.LastError(), WSAENOTSOCK);
  s.SendString(B("x"));
  EXPECT_EQ(s.LastError(), WSAENOTSOCK);
  s.CreateSocket();
  s.SendString(B("x"));
  EXPECT_EQ(s.LastError(), WSAEDESTADDRREQ);
  EXPECT_EQ(s.GetRemoteSinIP(), "0.0.0.0");
  EXPECT_EQ(s.GetRemoteSinPort(), 0);
}

TEST(UDPBlockSocket, LocalNameOpensNoSocket) {
  TUDPBlockSocket s;
  char expected[256] = {};
  gethostname(expected, sizeof expected - 1);
  EXPECT_EQ(s.LocalName(), expected);
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(s.Socket(), -1);
}

TEST(UDPBlockSocketDeathTest, WithoutItsWakeUpDescriptorNoSocketIsCreated) {
  // In a child process: with no descriptor left, the object cannot get its wake-up descriptor.
  EXPECT_EXIT(
      {
        rlimit none{};
        getrlimit(RLIMIT_NOFILE, &none);
        none.rlim_cur = 0;
        setrlimit(RLIMIT_NOFILE, &none);
        TUDPBlockSocket s;
        s.Bind("127.0.0.1", "0");
        std::fprintf(stderr, "%d %d %s\n", s.LastError(), s.Socket(), s.LastErrorDesc().c_str());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0),
      "10024 -1 Could not create the socket's wake-up descriptor: Too many open files");
}

TEST(UDPBlockSocket, MovedSocketKeepsWorkingAndTheLastOwnerCloses) {
  TUDPBlockSocket a;
  a.Bind("127.0.0.1", "0");
  const int fd = a.Socket();
  const String port = PortOf(a);
  {
    TUDPBlockSocket b(std::move(a));
    EXPECT_EQ(a.Socket(), -1);
    EXPECT_EQ(b.Socket(), fd);
    TUDPBlockSocket c;
    c = std::move(b);
    c.Connect("127.0.0.1", port);
    c.SendString(B("self"));
    EXPECT_EQ(c.RecvPacket(5000), B("self"));
  }
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(UDPBlockSocketTest, WakeUpEndsAWaitEarlyAndIsConsumed) {
  std::thread waker([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Receiver.WakeUp();
  });
  const auto start = Clock::now();
  EXPECT_FALSE(Receiver.CanRead(60000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  waker.join();
  EXPECT_EQ(Receiver.LastError(), 0);

  // Several wake-ups before the wait coalesce into one early return.
  Receiver.WakeUp();
  Receiver.WakeUp();
  EXPECT_FALSE(Receiver.CanReadEx(60000));
  EXPECT_FALSE(Receiver.CanRead(0));

  // Data wins over a pending wake-up, which then ends the next empty wait.
  Send("data");
  Receiver.WakeUp();
  EXPECT_TRUE(Receiver.CanRead(5000));
  EXPECT_EQ(Receiver.RecvPacket(5000), B("data"));
  const auto second = Clock::now();
  EXPECT_FALSE(Receiver.CanRead(60000));
  EXPECT_LT(Clock::now() - second, std::chrono::seconds(30));
}

// Abort ends a read that waits for the rest of a line, while a plain wake-up does not disturb
// the read and is still there for the next CanRead.
TEST(UDPBlockSocketAbort, EndsReadsAndKeepsPlainWakeUpsForCanRead) {
  TUDPBlockSocket rx;
  rx.Bind("127.0.0.1", "0");
  TUDPBlockSocket tx;
  tx.Connect("127.0.0.1", IntToStr(rx.GetLocalSinPort()));
  tx.SendString(RawByteString("half"));
  rx.ConvertLineEnd = true;

  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    rx.WakeUp();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    tx.SendString(RawByteString(" done\r\n"));
  });
  EXPECT_EQ(rx.RecvString(5000), RawByteString("half done"));
  waker.join();
  EXPECT_FALSE(rx.CanRead(5000));  // the wake-up was handed on, so this returns at once

  tx.SendString(RawByteString("never ends"));
  auto t0 = std::chrono::steady_clock::now();
  std::thread aborter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    rx.Abort();
  });
  EXPECT_TRUE(rx.RecvString(5000).empty());
  aborter.join();
  EXPECT_EQ(rx.LastError(), 10004);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_TRUE(rx.Aborted());
}
