// Shared pieces of the UDP component tests: a loopback peer, an event recorder and a loop pump.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/udp_link/QxUDPS.h>

// Runs the main loop until cond() holds or the (generous) deadline passes.
inline bool Pump(const std::function<bool()>& cond,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Application->HandleMessage(std::chrono::milliseconds(5));
  }
  return true;
}

// Keeps the loop running for a while (to show that something does NOT happen).
inline void PumpFor(std::chrono::milliseconds d) {
  auto end = std::chrono::steady_clock::now() + d;
  while (std::chrono::steady_clock::now() < end)
    Application->HandleMessage(std::chrono::milliseconds(5));
}

// A plain datagram socket on 127.0.0.1, the other side of every conversation.
class Peer {
 public:
  // On 127.0.0.1, or another loopback address (host order) to be a sender of its own.
  explicit Peer(uint32_t address = INADDR_LOOPBACK) {
    FFd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
  }
  // Owns its descriptor: moved, never copied.
  Peer(Peer&& other) noexcept : FFd(std::exchange(other.FFd, -1)), FPort(other.FPort) {}
  Peer& operator=(Peer&& other) noexcept {
    if (this != &other) {
      if (FFd >= 0) close(FFd);
      FFd = std::exchange(other.FFd, -1);
      FPort = other.FPort;
    }
    return *this;
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() {
    if (FFd >= 0) close(FFd);
  }
  int Port() const { return FPort; }
  void SendTo(int port, const std::string& bytes) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    sendto(FFd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  struct Got {
    std::string Bytes;
    int FromPort;
  };
  // The next datagram, or nothing within the time (the main loop keeps running meanwhile).
  std::optional<Got> Receive(std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    std::optional<Got> got;
    Pump(
        [&] {
          pollfd p{FFd, POLLIN, 0};
          if (poll(&p, 1, 0) <= 0) return false;
          char buf[65536];
          sockaddr_in from{};
          socklen_t len = sizeof from;
          ssize_t n = recvfrom(FFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
          got = Got{std::string(buf, n > 0 ? n : 0), ntohs(from.sin_port)};
          return true;
        },
        limit);
    return got;
  }

 private:
  int FFd;
  int FPort;
};

struct PacketEvent {
  TObject* Sender;
  String Packet, Hex, PeerIP, PeerPort;
};
struct StatusEvent {
  bool Active;
  int32_t Error;
  String Desc;
};

// Records the component's events; an optional responder fills Response.
class Recorder : public TObject {
 public:
  std::vector<PacketEvent> Packets;
  std::vector<StatusEvent> Statuses;
  std::function<String(const PacketEvent&)> Respond;

  void OnPacket(TObject* Sender, String Packet, String Hex, String PeerIP, String PeerPort,
                String& Response) {
    EXPECT_TRUE(Response.empty()) << "every event starts with an empty response";
    Packets.push_back({Sender, Packet, Hex, PeerIP, PeerPort});
    if (Respond) Response = Respond(Packets.back());
  }
  void OnStatus(TObject*, bool Active, int32_t Error, String Desc) {
    Statuses.push_back({Active, Error, Desc});
  }
  void Attach(TQxUDPS* u) {
    u->SetFOnGetPacketUDP(TOnGetPacketUDP(this, &Recorder::OnPacket));
    u->SetFOnUDPStatus(TOnUDPStatus(this, &Recorder::OnStatus));
  }
};

// Starts the component on 127.0.0.1 with a port the system chooses and waits for the bind.
inline bool StartOnLoopback(TQxUDPS* u, Recorder& r) {
  u->SetUDPActive(true);
  return Pump([&] { return !r.Statuses.empty(); }) && r.Statuses.back().Active;
}

// An inactive component on loopback with a recorder attached; Start() activates it.
class ActiveUdpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    udp.reset(new TQxUDPS(nullptr));
    rec.Attach(udp.get());
  }
  void Start() {
    ASSERT_TRUE(StartOnLoopback(udp.get(), rec));
    port = udp->BoundPort();
    ASSERT_GT(port, 0);
  }
  void TearDown() override {
    if (udp) udp->SetUDPActive(false);
  }
  bool WaitPackets(size_t n) {
    return Pump([&] { return rec.Packets.size() >= n; });
  }
  TOwned<TQxUDPS> udp;
  Recorder rec;
  Peer peer;
  int port = 0;
};
