// The UDP component's speed on loopback, each figure next to a baseline from the same run:
// request/response through OnGetPacketUDP against a bare recvfrom/sendto echo, the latency of a
// queued send and of a stop, and the packet rate delivered without loss.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "framework/app/Application.h"
#include "udp_link/QxUDPS.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

struct Stats {
  double Median, P99;
};
Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

int Socket(int* port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (port) *port = ntohs(a.sin_port);
  return fd;
}

sockaddr_in To(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

bool RecvWithin(int fd, char* buf, size_t size, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  return recv(fd, buf, size, 0) >= 0;
}

// Round trips from a client thread to `port`; the main thread runs `pump` meanwhile.
std::vector<double> RoundTrips(int port, int count,
                               const std::function<void(std::atomic<bool>&)>& pump) {
  std::vector<double> times;
  std::atomic<bool> done{false};
  std::thread client([&] {
    int fd = Socket(nullptr);
    sockaddr_in to = To(port);
    char buf[2048];
    for (int i = 0; i < count + 100; ++i) {
      auto t0 = Clock::now();
      sendto(fd, "ping", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      if (!RecvWithin(fd, buf, sizeof buf, 2000)) break;
      if (i >= 100) times.push_back(Micros(Clock::now() - t0));  // after a warm-up
    }
    close(fd);
    done = true;
    Application->WakeUp();
  });
  pump(done);
  client.join();
  return times;
}

void Print(const char* what, Stats s) {
  std::printf("%-58s median %8.1f us   p99 %8.1f us\n", what, s.Median, s.P99);
}

}  // namespace

int main() {
  constexpr int kTrips = 3000;

  // Baseline: a bare blocking echo server on its own thread.
  int echoPort;
  int echoFd = Socket(&echoPort);
  std::atomic<bool> echoStop{false};
  std::thread echo([&] {
    char buf[2048];
    while (!echoStop) {
      pollfd p{echoFd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(echoFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n >= 0) sendto(echoFd, "OK", 2, 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
  Stats base = Summarise(RoundTrips(echoPort, kTrips, [](std::atomic<bool>& done) {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }));
  echoStop = true;
  echo.join();
  close(echoFd);

  // The component: datagram mode, the handler fills Response.
  TOwned<TQxUDPS> udp(new TQxUDPS(nullptr));
  std::atomic<int64_t> delivered{0};
  udp->SetFOnGetPacketUDP(
      TOnGetPacketUDP::Callable([&](TObject*, String, String, String, String, String& response) {
        ++delivered;
        response = "OK";
      }));
  bool active = false;
  udp->SetFOnUDPStatus(
      TOnUDPStatus::Callable([&](TObject*, bool a, int32_t, String) { active = a; }));
  udp->SetUDPActive(true);
  while (!active) Application->HandleMessage(std::chrono::milliseconds(10));
  auto pumpLoop = [](std::atomic<bool>& done) {
    while (!done) Application->HandleMessage(std::chrono::milliseconds(50));
  };
  Stats comp = Summarise(RoundTrips(udp->BoundPort(), kTrips, pumpLoop));

  std::printf("== request/response on loopback (%d round trips)\n", kTrips);
  Print("TQxUDPS, datagram mode, handler fills Response:", comp);
  Print("baseline: bare recvfrom/sendto echo thread:", base);
  std::printf("ratio (median): %.2f  (target <= 3)   ratio (p99): %.2f\n",
              comp.Median / base.Median, comp.P99 / base.P99);

  // Queued sends while idle: from UDPServerSendTo to arrival.
  {
    int rxPort;
    int rx = Socket(&rxPort);
    std::vector<double> times;
    char buf[2048];
    for (int i = 0; i < 300; ++i) {
      Application->HandleMessage(std::chrono::milliseconds(3));  // let the thread go idle
      auto t0 = Clock::now();
      udp->UDPServerSendTo("127.0.0.1", IntToStr(rxPort), RawByteString("q"));
      if (!RecvWithin(rx, buf, sizeof buf, 2000)) break;
      times.push_back(Micros(Clock::now() - t0));
    }
    close(rx);
    std::printf("== queued send while idle (nominal cycle 10 ms)\n");
    Print("UDPServerSendTo to arrival:", Summarise(times));
  }

  // Paced packets: how many reach the handler, none lost.
  {
    udp->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
        [&](TObject*, String, String, String, String, String&) { ++delivered; }));
    delivered = 0;
    constexpr int kRate = 20000, kSeconds = 2;
    std::atomic<bool> done{false};
    std::thread sender([&] {
      int fd = Socket(nullptr);
      sockaddr_in to = To(udp->BoundPort());
      auto start = Clock::now();
      for (int i = 0; i < kRate * kSeconds; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * i / kRate));
        sendto(fd, "pkt", 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      close(fd);
      done = true;
    });
    auto t0 = Clock::now();
    while (!done || Clock::now() - t0 < std::chrono::seconds(kSeconds + 1)) {
      Application->HandleMessage(std::chrono::milliseconds(20));
      if (done && delivered >= kRate * kSeconds) break;
    }
    sender.join();
    double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("== paced delivery to the handler\n");
    std::printf("sent %d at %d/s; delivered %lld (%.0f/s), lost %lld\n", kRate * kSeconds, kRate,
                static_cast<long long>(delivered.load()), delivered / secs,
                static_cast<long long>(kRate * kSeconds - delivered.load()));
  }

  // Stop latency: the assignment that stops the thread.
  {
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
      if (i > 0) {
        active = false;
        udp->SetUDPActive(true);
        while (!active) Application->HandleMessage(std::chrono::milliseconds(10));
      }
      Application->HandleMessage(std::chrono::milliseconds(3));
      auto t0 = Clock::now();
      udp->SetUDPActive(false);
      times.push_back(Micros(Clock::now() - t0));
    }
    std::printf("== stop (UDPActive := false until it returns; nominal cycle 10 ms)\n");
    Print("SetUDPActive(false):", Summarise(times));
  }
  return 0;
}
