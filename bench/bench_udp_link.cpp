// The UDP component's speed on loopback, each figure next to a baseline from the same run:
// request/response through OnGetPacketUDP against a bare recvfrom/sendto echo and against a bare
// thread that hands each datagram to a main loop and replies after it, paced packet
// rates delivered to the handler against a bare recvfrom thread, the latency of a queued send
// and of a stop, the receive thread's wake-ups while idle, and the preferred sender's round trips
// under a crowd of strangers against the same without them.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/udp_link/QxUDPS.h>

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double P99(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, v.size() * 99 / 100)];
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

// How a client makes its round trips.
struct TTrips {
  std::string Request = "ping";
  int Warmup = 100;   // trips made before the timed ones
  int WaitMs = 2000;  // a reply not there by then is lost
  bool EndAtLoss = true;
  std::chrono::microseconds Pause{0};  // between trips
};

// Round trips from a client thread to `port`; the main thread runs `pump` meanwhile. The times
// of the answered ones; `lost` counts the others.
std::vector<double> RoundTrips(int port, int count,
                               const std::function<void(std::atomic<bool>&)>& pump,
                               const TTrips& how = {}, int* lost = nullptr) {
  std::vector<double> times;
  int unanswered = 0;
  std::atomic<bool> done{false};
  std::thread client([&] {
    int fd = Socket(nullptr);
    sockaddr_in to = To(port);
    char buf[2048];
    for (int i = 0; i < count + how.Warmup; ++i) {
      auto t0 = Clock::now();
      sendto(fd, how.Request.data(), how.Request.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
      if (!RecvWithin(fd, buf, sizeof buf, how.WaitMs)) {
        ++unanswered;
        if (how.EndAtLoss) break;
      } else if (i >= how.Warmup) {
        times.push_back(Micros(Clock::now() - t0));
      }
      std::this_thread::sleep_for(how.Pause);
    }
    close(fd);
    done = true;
    Application->WakeUp();
  });
  pump(done);
  client.join();
  if (lost) *lost = unanswered;
  return times;
}

// A bare receive thread on `fd` until `stop`: `handle` (if any) runs for each datagram, then
// "OK" goes back to its sender.
std::thread BareReceiver(int fd, std::atomic<bool>& stop, std::function<void()> handle) {
  return std::thread([fd, &stop, handle] {
    char buf[2048];
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      if (recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len) < 0) continue;
      if (handle) handle();
      sendto(fd, "OK", 2, 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
}

// The honest baseline of a round trip whose handler runs on the main thread: a bare receive
// thread hands each datagram to a main loop over an eventfd, waits for it to be handled, and
// sends the reply after it.
std::vector<double> HandOffTrips(int count) {
  int port;
  const int fd = Socket(&port);
  const int toMain = eventfd(0, 0), back = eventfd(0, 0);
  std::atomic<bool> stop{false};
  std::thread rx = BareReceiver(fd, stop, [&] {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(toMain, &one, sizeof one);
    [[maybe_unused]] ssize_t r = read(back, &one, sizeof one);  // the handler has run
  });
  auto times = RoundTrips(port, count, [&](std::atomic<bool>& done) {
    while (!done) {
      pollfd p{toMain, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      uint64_t n;
      [[maybe_unused]] ssize_t r = read(toMain, &n, sizeof n);
      [[maybe_unused]] ssize_t w = write(back, &n, sizeof n);
    }
  });
  stop = true;
  rx.join();
  close(fd);
  close(toMain);
  close(back);
  return times;
}

// Sends `total` datagrams of `payload` to `port`, paced at `rate` per second, from one thread.
std::thread PacedSender(int port, int rate, int total, std::string payload,
                        std::atomic<bool>& done) {
  return std::thread([port, rate, total, payload, &done] {
    int fd = Socket(nullptr);
    sockaddr_in to = To(port);
    auto start = Clock::now();
    for (int i = 0; i < total; ++i) {
      std::this_thread::sleep_until(start + std::chrono::nanoseconds(1000000000LL * i / rate));
      sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    close(fd);
    done = true;
    Application->WakeUp();
  });
}

// Runs the main loop until `count` reaches `total` or stops growing for 6 s after the sender
// finished (longer than any gathering may take).
void PumpUntilSettled(std::atomic<bool>& done, const std::atomic<int64_t>& count, int64_t total) {
  int64_t last = -1;
  auto still = Clock::now();
  for (;;) {
    Application->HandleMessage(std::chrono::milliseconds(20));
    if (count >= total) return;
    if (count != last) {
      last = count;
      still = Clock::now();
    } else if (done && Clock::now() - still > std::chrono::seconds(6)) {
      return;
    }
  }
}

std::set<std::string> Tasks() {
  std::set<std::string> out;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.insert(e->d_name);
    closedir(d);
  }
  return out;
}

// Times the thread went to sleep and was woken (preemptions are not wake-ups).
long ContextSwitches(const std::string& tid) {
  std::ifstream f("/proc/self/task/" + tid + "/status");
  std::string line;
  long total = 0;
  while (std::getline(f, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
      total += std::atol(line.substr(line.find(':') + 1).c_str());
  return total;
}

// Sockets on 127.0.0.2 to 127.0.0.250, `perAddress` ports each, sending round-robin as fast as
// one thread can until `stop`: a crowd of strangers, each sending little.
std::thread RotatingFlood(int port, int perAddress, const std::string& payload,
                          std::atomic<bool>& stop, std::atomic<int64_t>& sent) {
  return std::thread([=, &stop, &sent] {
    std::vector<int> fds;
    for (int a = 2; a <= 250; ++a)
      for (int k = 0; k < perAddress; ++k) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl((127u << 24) | static_cast<uint32_t>(a));
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0)
          fds.push_back(fd);
        else
          close(fd);
      }
    const sockaddr_in to = To(port);
    for (size_t i = 0; !stop && !fds.empty(); ++i) {
      sendto(fds[i % fds.size()], payload.data(), payload.size(), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
      ++sent;
    }
    for (int fd : fds) close(fd);
  });
}

// Paced round trips of one peer on 127.0.0.1 while the main loop runs: the times of those
// answered within 200 ms, and how many were not.
std::vector<double> PeerTrips(int port, int count, const std::string& request, int* lost) {
  TTrips how;
  how.Request = request;
  how.Warmup = 0;
  how.WaitMs = 200;
  how.EndAtLoss = false;
  how.Pause = std::chrono::microseconds(500);
  return RoundTrips(
      port, count,
      [](std::atomic<bool>& done) {
        while (!done) Application->HandleMessage(std::chrono::milliseconds(50));
      },
      how, lost);
}

void Row(const char* what, double median, double p99) {
  std::printf("  %-54s median %8.1f us   p99 %8.1f us\n", what, median, p99);
}

}  // namespace

int main(int argc, char** argv) {
  // A section by name runs it alone: "roundtrip", "paced", or "flood" (the preferred sender
  // under a crowd).
  const std::string only = argc > 1 ? argv[1] : "";
  constexpr int kTrips = 2000, kRuns = 5;
  constexpr int kRate = 100000, kSeconds = 2, kTotal = kRate * kSeconds;

  TOwned<TQxUDPS> udp(new TQxUDPS(nullptr));
  std::atomic<int64_t> delivered{0};
  bool active = false;
  udp->SetFOnUDPStatus(
      TOnUDPStatus::Callable([&](TObject*, bool a, int32_t, String) { active = a; }));
  auto start = [&] {
    if (udp->UDPActive()) return;
    active = false;
    udp->SetUDPActive(true);
    while (!active) Application->HandleMessage(std::chrono::milliseconds(10));
  };

  // Request/response: the bare echo, the hand-off and the component, run after run.
  if (only.empty() || only == "roundtrip") {
    std::vector<double> baseMed, compMed, baseP99, compP99, handMed, handP99;
    udp->SetFOnGetPacketUDP(
        TOnGetPacketUDP::Callable([&](TObject*, String, String, String, String, String& r) {
          ++delivered;
          r = "OK";
        }));
    start();
    for (int run = 0; run < kRuns; ++run) {
      int echoPort;
      int echoFd = Socket(&echoPort);
      std::atomic<bool> echoStop{false};
      std::thread echo = BareReceiver(echoFd, echoStop, nullptr);
      auto base = RoundTrips(echoPort, kTrips, [](std::atomic<bool>& done) {
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      });
      echoStop = true;
      echo.join();
      close(echoFd);
      auto handOff = HandOffTrips(kTrips);
      auto comp = RoundTrips(udp->BoundPort(), kTrips, [](std::atomic<bool>& done) {
        while (!done) Application->HandleMessage(std::chrono::milliseconds(50));
      });
      baseMed.push_back(Median(base));
      baseP99.push_back(P99(base));
      handMed.push_back(Median(handOff));
      handP99.push_back(P99(handOff));
      compMed.push_back(Median(comp));
      compP99.push_back(P99(comp));
    }
    std::printf("== request/response on loopback (%d runs of %d round trips)\n", kRuns, kTrips);
    Row("TQxUDPS, datagram mode, handler fills Response:", Median(compMed), Median(compP99));
    Row("baseline: bare recvfrom/sendto echo thread:", Median(baseMed), Median(baseP99));
    Row("baseline: bare thread, hand-off to a main loop:", Median(handMed), Median(handP99));
    std::printf("  ratio of medians to the bare echo: %.2f\n", Median(compMed) / Median(baseMed));
    std::printf("  ratio of medians to the hand-off:  %.2f (target <= 1.20)\n",
                Median(compMed) / Median(handMed));
  }

  // Queued sends while idle: from UDPServerSendTo to arrival, against a bare sendto.
  if (only.empty()) {
    int rxPort;
    int rx = Socket(&rxPort);
    int tx = Socket(nullptr);
    sockaddr_in to = To(rxPort);
    std::vector<double> queued, bare;
    char buf[2048];
    for (int i = 0; i < 300; ++i) {
      Application->HandleMessage(std::chrono::milliseconds(3));  // let the thread go idle
      auto t0 = Clock::now();
      udp->UDPServerSendTo("127.0.0.1", IntToStr(rxPort), RawByteString("q"));
      if (!RecvWithin(rx, buf, sizeof buf, 2000)) break;
      queued.push_back(Micros(Clock::now() - t0));
      t0 = Clock::now();
      sendto(tx, "q", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      if (!RecvWithin(rx, buf, sizeof buf, 2000)) break;
      bare.push_back(Micros(Clock::now() - t0));
    }
    close(rx);
    close(tx);
    std::printf("== queued send while idle\n");
    Row("UDPServerSendTo to arrival:", Median(queued), P99(queued));
    Row("baseline: bare sendto to arrival:", Median(bare), P99(bare));
  }

  // The receive thread's wake-ups while idle, against a thread blocked in poll for good.
  if (only.empty()) {
    udp->SetUDPActive(false);
    auto before = Tasks();
    start();
    std::string tid;
    for (const auto& t : Tasks())
      if (!before.count(t)) tid = t;
    // Counted once the start is over: the thread's wake from its status call is not idling.
    for (auto settle = Clock::now(); Clock::now() - settle < std::chrono::milliseconds(200);)
      Application->HandleMessage(std::chrono::milliseconds(50));
    long c0 = tid.empty() ? 0 : ContextSwitches(tid);
    auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(3))
      Application->HandleMessage(std::chrono::milliseconds(100));
    long c1 = tid.empty() ? 0 : ContextSwitches(tid);
    double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("== idle active component\n");
    std::printf("  receive thread wake-ups: %.1f/s (target <= 1; baseline: a thread in poll: 0)\n",
                (c1 - c0) / secs);
  }

  // Stop latency: the assignment that stops the thread, idle.
  if (only.empty()) {
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
      if (i > 0) start();
      Application->HandleMessage(std::chrono::milliseconds(3));
      auto t0 = Clock::now();
      udp->SetUDPActive(false);
      times.push_back(Micros(Clock::now() - t0));
    }
    std::printf("== stop while idle (UDPActive := false until it returns)\n");
    Row("SetUDPActive(false):", Median(times), P99(times));
    std::printf("  target: median < 200 us; baseline: one 1 ms sleep of the stop wait: %.1f us\n",
                [] {
                  auto t0 = Clock::now();
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  return Micros(Clock::now() - t0);
                }());
  }
  start();
  // Paced packets: 16-byte datagrams at 100,000/s for 2 s, counted at a bare recvfrom thread and
  // at the component's handler (whole datagrams, then one CR LF line per datagram).
  if (only.empty() || only == "paced") {
    std::printf("== paced delivery: %d datagrams of 16 bytes/s for %d s, %d runs each\n", kRate,
                kSeconds, kRuns);
    const std::string datagram = "0123456789abcdef";
    const std::string line = "0123456789abcd\r\n";
    auto report = [&](const char* what, const std::vector<int64_t>& got) {
      int clean = 0;
      std::printf("  %-34s lost:", what);
      for (int64_t g : got) {
        std::printf(" %7lld", static_cast<long long>(kTotal - g));
        clean += g == kTotal;
      }
      std::printf("   zero loss in %d of %d\n", clean, kRuns);
    };

    std::vector<int64_t> bare;
    for (int run = 0; run < kRuns; ++run) {
      int port;
      int fd = Socket(&port);
      int size = 4 << 20;
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
      std::atomic<int64_t> count{0};
      std::atomic<bool> stop{false}, done{false};
      std::thread rx([&] {
        char buf[2048];
        while (!stop) {
          pollfd p{fd, POLLIN, 0};
          if (poll(&p, 1, 20) <= 0) continue;
          if (recv(fd, buf, sizeof buf, 0) > 0) ++count;
        }
      });
      auto tx = PacedSender(port, kRate, kTotal, datagram, done);
      PumpUntilSettled(done, count, kTotal);
      tx.join();
      stop = true;
      rx.join();
      close(fd);
      bare.push_back(count);
    }

    std::vector<int64_t> whole, lines;
    udp->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
        [&](TObject*, String, String, String, String, String&) { ++delivered; }));
    for (int run = 0; run < kRuns; ++run) {
      delivered = 0;
      std::atomic<bool> done{false};
      auto tx = PacedSender(udp->BoundPort(), kRate, kTotal, datagram, done);
      PumpUntilSettled(done, delivered, kTotal);
      tx.join();
      whole.push_back(delivered);
    }
    udp->SetFUDPLineEndRx("CRLF");
    udp->SetFOnGetPacketUDP(
        TOnGetPacketUDP::Callable([&](TObject*, String text, String, String, String, String&) {
          // Lines arriving together are joined with CR LF: count them all.
          int64_t n = 1;
          for (size_t at = text.find("\r\n"); at != String::npos; at = text.find("\r\n", at + 2))
            ++n;
          delivered += n;
        }));
    for (int run = 0; run < kRuns; ++run) {
      delivered = 0;
      std::atomic<bool> done{false};
      auto tx = PacedSender(udp->BoundPort(), kRate, kTotal, line, done);
      PumpUntilSettled(done, delivered, kTotal);
      tx.join();
      lines.push_back(delivered);
    }
    udp->SetFUDPLineEndRx("");
    report("baseline: bare recvfrom thread", bare);
    report("TQxUDPS, datagram mode", whole);
    report("TQxUDPS, line mode (CRLF)", lines);
  }

  // The preferred sender's round trips while a crowd of strangers on 127.0.0.2 to 127.0.0.250,
  // two ports each, floods the socket as fast as one thread can, against the same without the
  // flood. The handler answers the peer only, as the volume remote does.
  if (only.empty() || only == "flood") {
    constexpr int kPeerTrips = 1000;
    udp->SetFUDPPreferredIP("127.0.0.1");
    udp->SetFOnGetPacketUDP(
        TOnGetPacketUDP::Callable([&](TObject*, String, String, String ip, String, String& r) {
          if (ip == "127.0.0.1") r = "OK";
        }));
    std::printf(
        "== the preferred sender (UDPPreferredIP) under a rotating flood, %d runs of %d "
        "paced round trips\n",
        kRuns, kPeerTrips);
    for (const char* lineEnd : {"", "CRLF"}) {
      udp->SetFUDPLineEndRx(lineEnd);
      const std::string end = lineEnd[0] ? "\r\n" : "";
      std::vector<double> calmMed, calmP99, floodMed, floodP99;
      int lostCalm = 0, lostFlood = 0;
      double floodRate = 0;
      for (int run = 0; run < kRuns; ++run) {
        int lost;
        auto calm = PeerTrips(udp->BoundPort(), kPeerTrips, "AT+GETVOL" + end, &lost);
        lostCalm += lost;
        std::atomic<bool> stop{false};
        std::atomic<int64_t> sent{0};
        auto flood = RotatingFlood(udp->BoundPort(), 2, "AT+SETVOL=0" + end, stop, sent);
        // Under way first, so that every trip meets the crowd.
        for (auto t = Clock::now(); Clock::now() - t < std::chrono::milliseconds(100);)
          Application->HandleMessage(std::chrono::milliseconds(10));
        const auto f0 = Clock::now();
        const int64_t s0 = sent;
        auto flooded = PeerTrips(udp->BoundPort(), kPeerTrips, "AT+GETVOL" + end, &lost);
        floodRate += (sent - s0) / std::chrono::duration<double>(Clock::now() - f0).count();
        lostFlood += lost;
        stop = true;
        flood.join();
        // What the crowd left queued is taken before the next calm run.
        for (auto t = Clock::now(); Clock::now() - t < std::chrono::milliseconds(300);)
          Application->HandleMessage(std::chrono::milliseconds(10));
        calmMed.push_back(Median(calm));
        calmP99.push_back(P99(calm));
        floodMed.push_back(Median(flooded));
        floodP99.push_back(P99(flooded));
      }
      std::printf("  %s, crowd sending %.0f datagrams/s:\n",
                  lineEnd[0] ? "line mode (CRLF)" : "datagram mode", floodRate / kRuns);
      Row("  peer under the flood:", Median(floodMed), Median(floodP99));
      Row("  baseline: the same peer, no flood:", Median(calmMed), Median(calmP99));
      std::printf("    ratio median %.2f, p99 %.2f (target <= 2); unanswered %d and %d of %d\n",
                  Median(floodMed) / Median(calmMed), Median(floodP99) / Median(calmP99), lostFlood,
                  lostCalm, kRuns * kPeerTrips);
    }
    udp->SetFUDPLineEndRx("");
    udp->SetFUDPPreferredIP("");
  }

  return 0;
}
