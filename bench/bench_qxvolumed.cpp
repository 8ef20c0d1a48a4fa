// The volume remote end to end, against a private sound server (re-runs itself under
// scripts/with-pulse): a datagram AT+SETVOL=N sent to qxvolumed until the sound server's volume is
// N, as an independent libpulse client's subscription sees it, against that client's own set
// until its event (the baseline), median and p99 and their ratio, for the built-in form (whole
// datagrams, each line a command), for CR LF lines joined across datagrams (--line-end CRLF) and
// for a bare datagram; how many datagrams a second the daemon reads and drops from a peer that
// is not the configured one, flooding as fast as it can; and the real peer's commands timed while
// that peer floods at half that rate.
//   bench_qxvolumed [QXVOLUMED [EARLIER-QXVOLUMED]]
// With an earlier build's daemon, its figures are measured in the same run, against the same
// baseline.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pulse/pulseaudio.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DaemonBench.h"

namespace {

// What the flooding peer sends, without its line end.
const char* const kFloodText = "AT+SETVOL=1";

// qxvolumed as a child, its JSON events read on a thread: counts the packets from the flooding
// peer and notices the socket going active.
class TDaemon {
 public:
  // lineEnd: the daemon's --line-end ("CRLF", or "" for whole datagrams), nullptr for the form's
  // own. Says why on standard error when it does not start.
  bool Start(const std::string& bin, int port, const char* lineEnd) {
    if (Launch(bin, port, lineEnd)) return true;
    std::fprintf(stderr, "bench_qxvolumed: %s did not start\n", bin.c_str());
    return false;
  }
  ~TDaemon() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
    if (FReader.joinable()) FReader.join();
  }
  long FloodRead() const { return FFlood; }

 private:
  bool Launch(const std::string& bin, int port, const char* lineEnd) {
    int out[2];
    if (pipe(out) != 0) return false;
    FPid = fork();
    if (FPid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      const std::string p = std::to_string(port);
      if (lineEnd != nullptr)
        execl(bin.c_str(), bin.c_str(), "--port", p.c_str(), "--line-end", lineEnd, "--json",
              "--no-overlay", static_cast<char*>(nullptr));
      else
        execl(bin.c_str(), bin.c_str(), "--port", p.c_str(), "--json", "--no-overlay",
              static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FReader = std::thread([this, fd = out[0]] { Read(fd); });
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(15), [&] { return FActive; });
  }
  void Read(int fd) {
    std::string buf;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
      buf.append(chunk, static_cast<size_t>(n));
      size_t nl;
      while ((nl = buf.find('\n')) != std::string::npos) {
        const std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        if (line.find("\"peer\":\"127.0.0.2\"") != std::string::npos) {
          // Pieces that follow each other closely may arrive joined into one packet.
          for (size_t at = line.find(kFloodText); at != std::string::npos;
               at = line.find(kFloodText, at + 1))
            ++FFlood;
        }
        if (line.find("\"event\":\"status\",\"active\":true") != std::string::npos) {
          std::lock_guard<std::mutex> lock(FLock);
          FActive = true;
          FChanged.notify_all();
        }
      }
    }
    close(fd);
  }
  pid_t FPid = -1;
  std::thread FReader;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FActive = false;
  std::atomic<long> FFlood{0};
};

// Alternates between levels so that every set is a change. With `resend`, a set not seen within
// 50 ms is sent again (a flooded socket loses datagrams) and the resends are counted.
template <class SetFn>
bool Measure(const char* what, TSinkWatcher& w, int rounds, SetFn set, std::vector<double>& micros,
             long* resends = nullptr) {
  for (int i = 0; i < rounds; ++i) {
    const int target = 30 + (i % 2) * 20 + (i / 2) % 7;
    const auto t0 = Clock::now();
    set(target);
    Clock::time_point seen;
    bool ok = false;
    while (!ok && Clock::now() - t0 < std::chrono::seconds(10)) {
      ok = w.WaitFor(target, seen,
                     resends ? std::chrono::milliseconds(50) : std::chrono::seconds(10));
      if (!ok && resends) {
        ++*resends;
        set(target);
      }
    }
    if (!ok) {
      std::fprintf(stderr, "bench_qxvolumed: %s: the volume never became %d%%\n", what, target);
      return false;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(seen - t0).count());
    // Each command finds the daemon idle, as a remote used by a person does (the overlay of the
    // last change is painted by then).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// One daemon started as `lineEnd` says, timed with datagrams of `text` + N + `end`.
bool TimeDaemon(const std::string& bin, const char* lineEnd, const std::string& end,
                TSinkWatcher& watcher, int rounds, std::vector<double>& micros) {
  const int port = FreePort();
  TDaemon daemon;
  if (!daemon.Start(bin, port, lineEnd)) return false;
  TPeer peer("127.0.0.1", port);
  auto send = [&](int v) { peer.Send("AT+SETVOL=" + std::to_string(v) + end); };
  return Measure(lineEnd == nullptr ? "built-in form" : lineEnd, watcher, rounds, send, micros);
}

void PrintRow(const char* what, const Stats& s, const Stats& o) {
  std::printf("  %-34s median %9.1f   p99 %9.1f   ratio %6.2f / %6.2f\n", what, s.Median, s.P99,
              s.Median / o.Median, s.P99 / o.P99);
}

int Inner(const std::string& daemonBin, const std::string& earlierBin) {
  unsetenv("DISPLAY");  // the daemon's overlay stays off the machine's display
  TSinkWatcher watcher;
  if (!watcher.Start()) {
    std::fprintf(stderr, "bench_qxvolumed: cannot reach the private sound server\n");
    return 1;
  }
  const int port = FreePort();
  TDaemon daemon;
  if (!daemon.Start(daemonBin, port, nullptr)) return 1;
  TPeer peer("127.0.0.1", port);
  const int rounds = 200;
  std::vector<double> own, remote, flooded, lines, whole, earlier, earlierWhole;
  auto viaDaemon = [&](int v) { peer.Send("AT+SETVOL=" + std::to_string(v) + "\r\n"); };
  auto ownSet = [&](int v) { watcher.Set(v); };
  if (!Measure("own set", watcher, rounds, ownSet, own)) return 1;
  if (!Measure("built-in form", watcher, rounds, viaDaemon, remote)) return 1;
  // Lines joined across datagrams pay the receive side's wait for more pieces of a packet.
  if (!TimeDaemon(daemonBin, "CRLF", "\r\n", watcher, rounds, lines)) return 1;
  if (!TimeDaemon(daemonBin, "", "", watcher, rounds, whole)) return 1;
  if (!earlierBin.empty() && (!TimeDaemon(earlierBin, nullptr, "\r\n", watcher, rounds, earlier) ||
                              !TimeDaemon(earlierBin, "", "", watcher, rounds, earlierWhole)))
    return 1;

  // Another peer floods the daemon with commands it must drop: first as fast as it can, for
  // the rate the daemon reads and drops; then at a fixed rate below that, while the real peer's
  // commands are timed.
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  auto flood = [&](double perSecond) {
    return std::thread([&, perSecond] {
      TPeer intruder("127.0.0.2", port);
      const std::string datagram = std::string(kFloodText) + "\r\n";
      const auto start = Clock::now();
      for (long n = 0; !stop; ++n) {
        if (perSecond > 0)
          std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(n / perSecond)));
        intruder.Send(datagram);
        ++sent;
      }
    });
  };
  long readBefore = daemon.FloodRead();
  auto f0 = Clock::now();
  std::thread full = flood(0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  stop = true;
  full.join();
  double seconds = std::chrono::duration<double>(Clock::now() - f0).count();
  const double fullSent = sent / seconds;
  // The daemon's output lags behind its socket; what it read is counted once it is quiet.
  long read = daemon.FloodRead();
  for (long before = -1; read != before; read = daemon.FloodRead()) {
    before = read;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  const double dropRate = (read - readBefore) / seconds;

  const double paced = std::max(100.0, dropRate / 2);
  stop = false;
  sent = 0;
  std::thread slow = flood(paced);
  long resends = 0;
  const bool ok =
      Measure("datagram under a flood", watcher, rounds / 4, viaDaemon, flooded, &resends);
  stop = true;
  slow.join();
  if (!ok) return 1;

  const Stats o = Summarise(own), r = Summarise(remote), f = Summarise(flooded),
              w = Summarise(whole);
  std::printf("AT+SETVOL=N -> sound server event (us), 200 each\n");
  std::printf("  %-34s median %9.1f   p99 %9.1f\n", "baseline: client's own set", o.Median, o.P99);
  PrintRow("built-in form, CR LF datagram", r, o);
  PrintRow("--line-end CRLF (lines joined)", Summarise(lines), o);
  PrintRow("--line-end '', bare datagram", w, o);
  if (!earlier.empty()) {
    PrintRow("earlier daemon: its built-in form", Summarise(earlier), o);
    PrintRow("earlier daemon: --line-end ''", Summarise(earlierWhole), o);
  }
  std::printf(
      "  (target for the built-in form: median <= 1.5, p99 <= 3; --line-end CRLF pays the\n"
      "   receive side's 10 ms wait for more pieces)\n");
  std::printf(
      "flood from 127.0.0.2 at full speed: %.0f datagrams/s sent, %.0f/s read and "
      "dropped by the daemon\n",
      fullSent, dropRate);
  std::printf("real peer under a flood of %.0f/s     median %9.1f   p99 %9.1f\n", paced, f.Median,
              f.P99);
  std::printf("  ratio to no flood                median %9.2f   p99 %9.2f   (%ld resends in %d)\n",
              f.Median / r.Median, f.P99 / r.P99, resends, rounds / 4);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return RunBesidePrivatePulse(argc, argv, "bench_qxvolumed", Inner);
}
