// Long checks of the UDP component's receive path, run by `make soak`: a paced stream of
// 1,000,000 datagrams per mode with resident memory sampled along the way, then per mode a flood
// and a drip of a line that never ends from one sender, and a flood of such lines from a crowd of
// senders, while a second sender's lines are timed from send to handler.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/udp_link/PacketGatherer.h>
#include <qx/udp_link/QxUDPS.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

long RssKiB() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, rss = 0;
  f >> pages >> rss;
  return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

struct TSender {
  explicit TSender(uint32_t address = INADDR_LOOPBACK) {
    Fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  TSender(TSender&& o) noexcept : Fd(o.Fd) { o.Fd = -1; }
  TSender(const TSender&) = delete;
  ~TSender() {
    if (Fd >= 0) close(Fd);
  }
  void Send(int port, const std::string& bytes) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    sendto(Fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  int Fd;
};

struct TMode {
  const char* Name;
  const char* LineEnd;
  std::string End;  // what ends a line on the wire
};
const TMode kModes[] = {
    {"datagram", "", ""}, {"line (CRLF)", "CRLF", "\r\n"}, {"terminator (;)", ";", ";"}};

class TSoak {
 public:
  TSoak() : FUdp(new TQxUDPS(nullptr)) {
    FUdp->SetFOnUDPStatus(
        TOnUDPStatus::Callable([this](TObject*, bool a, int32_t, String) { FActive = a; }));
    FUdp->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
        [this](TObject*, String text, String, String, String port, String&) {
          FMaxPacket = std::max(FMaxPacket, text.size());
          if (port != FTimedPort) {
            FOther += text.empty() ? 0 : 1;
            return;
          }
          // The timed sender's lines carry their sequence number; lines joined into one packet
          // all count.
          size_t at = 0;
          while (at < text.size()) {
            const size_t next = FEnd.empty() ? String::npos : text.find(FEnd, at);
            const String piece = text.substr(at, next == String::npos ? String::npos : next - at);
            const int seq = std::atoi(piece.c_str() + (piece.rfind('#', 0) == 0 ? 1 : 0));
            if (seq >= 0 && static_cast<size_t>(seq) < FSentAt.size()) {
              FDelays.push_back(Ms(Clock::now() - FSentAt[seq]));
              ++FTimed;
            }
            if (next == String::npos) break;
            at = next + FEnd.size();
          }
        }));
  }

  // A fresh socket per check, so that nothing a flood left queued reaches the next one.
  void Start(const TMode& mode) {
    FUdp->SetUDPActive(false);
    FUdp->SetFUDPLineEndRx(mode.LineEnd);
    FEnd = mode.End;
    FActive = false;
    FUdp->SetUDPActive(true);
    while (!FActive) Application->HandleMessage(std::chrono::milliseconds(10));
  }
  int Port() const { return FUdp->BoundPort(); }

  // 1,000,000 datagrams paced at `rate`/s; resident memory after the first 10 % and at the end.
  void Paced(const TMode& mode, int rate) {
    Start(mode);
    constexpr int kTotal = 1000000;
    TSender a;
    FTimedPort = "none";
    FOther = 0;
    std::atomic<bool> done{false};
    std::thread tx([&] {
      const std::string payload = "soak-datagram" + mode.End;
      auto t0 = Clock::now();
      for (int i = 0; i < kTotal; ++i) {
        if (i % 10 == 0)
          std::this_thread::sleep_until(t0 + std::chrono::nanoseconds(1000000000LL * i / rate));
        a.Send(Port(), payload);
      }
      done = true;
    });
    long warm = 0, peak = 0;
    auto t0 = Clock::now();
    auto still = Clock::now();
    int64_t last = -1;
    for (;;) {
      Application->HandleMessage(std::chrono::milliseconds(20));
      if (!warm && Clock::now() - t0 > std::chrono::seconds(1)) warm = RssKiB();
      peak = std::max(peak, RssKiB());
      if (FOther != last) {
        last = FOther;
        still = Clock::now();
      } else if (done && Clock::now() - still > std::chrono::milliseconds(500)) {
        break;
      }
    }
    tx.join();
    std::printf(
        "  %-16s %d sent at %d/s: %lld packets; RSS after 1 s %ld KiB, peak %ld KiB, end %ld KiB "
        "(growth %+ld KiB)\n",
        mode.Name, kTotal, rate, static_cast<long long>(FOther), warm, peak, RssKiB(),
        RssKiB() - warm);
  }

  // Sender A sends a line that never ends, as a flood (`flood`) or a drip of one byte a
  // millisecond, for 3 s; sender B sends a numbered line every 20 ms, timed to its handler,
  // starting `lateMs` after A. `crowd`: A is 498 senders on 127.0.0.2 to 127.0.0.250 taking turns,
  // and B the preferred sender.
  void Hostile(const TMode& mode, bool flood, int lateMs = 0, bool crowd = false) {
    Start(mode);
    TSender b;
    std::vector<TSender> as;
    for (int i = 0; i < (crowd ? 498 : 1); ++i) as.emplace_back(INADDR_LOOPBACK + 1 + i / 2);
    FUdp->SetFUDPPreferredIP(crowd ? "127.0.0.1" : "");
    sockaddr_in bAddr{};
    socklen_t len = sizeof bAddr;
    getsockname(b.Fd, reinterpret_cast<sockaddr*>(&bAddr), &len);
    FTimedPort = IntToStr(ntohs(bAddr.sin_port));
    FDelays.clear();
    FTimed = FOther = 0;
    FMaxPacket = 0;
    constexpr int kLines = 150;
    FSentAt.assign(kLines, Clock::time_point::max());
    const long rss0 = RssKiB();
    std::atomic<bool> done{false};
    std::thread attacker([&] {
      const std::string chunk = flood ? std::string(1400, 'A') : std::string("A");
      for (size_t i = 0; !done; ++i) {
        as[i % as.size()].Send(Port(), chunk);
        if (!flood) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    std::thread timed([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(lateMs));
      for (int i = 0; i < kLines; ++i) {
        FSentAt[i] = Clock::now();
        b.Send(Port(), "#" + std::to_string(i) + (mode.End.empty() ? "" : mode.End));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    long peak = rss0;
    auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::milliseconds(lateMs + kLines * 20 + 200)) {
      Application->HandleMessage(std::chrono::milliseconds(5));
      peak = std::max(peak, RssKiB());
    }
    done = true;
    attacker.join();
    timed.join();
    std::sort(FDelays.begin(), FDelays.end());
    auto at = [&](double q) {
      return FDelays.empty() ? 0.0
                             : FDelays[std::min(FDelays.size() - 1, size_t(q * FDelays.size()))];
    };
    std::printf(
        "  %-16s %-13s B: %lld/%d lines, delay median %.2f ms p99 %.2f ms max %.2f ms (join window "
        "10 ms); A: %lld packets, largest packet %zu bytes (bound %zu); RSS %+ld KiB\n",
        mode.Name,
        crowd    ? "crowd"
        : lateMs ? "flood, B late"
        : flood  ? "flood"
                 : "drip",
        static_cast<long long>(FTimed), kLines, at(0.5), at(0.99),
        FDelays.empty() ? 0.0 : FDelays.back(), static_cast<long long>(FOther), FMaxPacket,
        TPacketGatherer::MaxPacketBytes, peak - rss0);
  }

 private:
  TOwned<TQxUDPS> FUdp;
  bool FActive = false;
  String FTimedPort, FEnd;
  std::vector<Clock::time_point> FSentAt;
  std::vector<double> FDelays;
  int64_t FTimed = 0, FOther = 0;
  size_t FMaxPacket = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int rate = argc > 1 ? std::atoi(argv[1]) : 50000;
  TSoak soak;
  // A rate of 0 skips the paced soak, for repeating the hostile checks alone.
  if (rate > 0) {
    std::printf("== paced soak: 1,000,000 datagrams per mode; resident memory must stay flat\n");
    for (const TMode& m : kModes) soak.Paced(m, rate);
  }
  std::printf("== a line that never ends from A, timed lines from B every 20 ms\n");
  std::printf(
      "   (datagram mode has no lines: there A's flood is of complete packets, faster than any\n"
      "   handler takes them; while A and B both talk, past a backlog of %lld KiB A's surplus is\n"
      "   dropped, not B's lines. B late: B's first line comes 500 ms into A's flood. Crowd: A\n"
      "   is 498 senders on 127.0.0.2-250 taking turns, B the preferred sender)\n",
      static_cast<long long>(TPacketGatherer::OverloadBytes / 1024));
  for (const TMode& m : kModes) {
    soak.Hostile(m, true);
    if (m.End.empty()) soak.Hostile(m, true, 500);
    soak.Hostile(m, false);
    soak.Hostile(m, true, 0, /*crowd=*/true);
  }
  return 0;
}
