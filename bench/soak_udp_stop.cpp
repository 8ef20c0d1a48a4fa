// A prompt stop under any flood, run by `make soak`: `qxudp listen` in every receive mode, with
// and without --utf8, flooded from two senders (a line that never ends, and a stream of short
// lines), then interrupted with SIGINT. Each must exit 0 within a second of the signal.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFlood = std::chrono::milliseconds(1500);
constexpr auto kLimit = std::chrono::seconds(1);

struct TMode {
  const char* Name;
  const char* LineEnd;  // for --line-end-rx; nullptr: whole datagrams
  std::string End;
};

// A running `qxudp listen --port 0`: its pid, the port it printed, and a thread that reads
// (and drops) everything else it prints, so that output never holds it up.
struct TListener {
  pid_t Pid = -1;
  int Port = 0;
  std::thread Drain;
  std::atomic<long long> Printed{0};  // bytes printed after the first line

  bool Start(const TMode& mode, bool utf8) {
    int out[2];
    if (pipe(out) != 0) return false;
    std::vector<std::string> args = {QX_QXUDP, "listen", "--port", "0"};
    if (mode.LineEnd != nullptr) args.insert(args.end(), {"--line-end-rx", mode.LineEnd});
    if (utf8) args.push_back("--utf8");
    Pid = fork();
    if (Pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // The first line says the port: "status: active on 127.0.0.1:PORT".
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    const size_t colon = line.rfind(':');
    Port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    Drain = std::thread([this, fd = out[0]] {
      char buf[65536];
      for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) Printed += n;
      close(fd);
    });
    return Port > 0;
  }

  // SIGINT, then the time until the process is gone (bounded: a hung one is killed) and its
  // exit status (-1 when it did not exit by itself).
  std::pair<double, int> Interrupt() {
    const auto t0 = Clock::now();
    kill(Pid, SIGINT);
    int status = 0;
    for (;;) {
      if (waitpid(Pid, &status, WNOHANG) == Pid) break;
      if (Clock::now() - t0 > std::chrono::seconds(10)) {
        kill(Pid, SIGKILL);
        waitpid(Pid, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    Drain.join();
    return {ms, status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  }
};

// Sends `payload` to 127.0.0.1:port as fast as it goes until `stop`.
std::thread Flood(int port, std::string payload, const std::atomic<bool>& stop) {
  return std::thread([port, payload = std::move(payload), &stop] {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    while (!stop)
      sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
  });
}

}  // namespace

int main() {
  const TMode modes[] = {
      {"datagram", nullptr, ""}, {"line (CRLF)", "CRLF", "\r\n"}, {"terminator (;)", ";", ";"}};
  std::printf("== SIGINT to qxudp listen under a flood (limit %lld ms, exit status 0)\n",
              static_cast<long long>(std::chrono::milliseconds(kLimit).count()));
  int failures = 0;
  for (const TMode& mode : modes) {
    for (bool utf8 : {false, true}) {
      TListener listener;
      if (!listener.Start(mode, utf8)) {
        std::printf("  %-16s %-6s qxudp listen did not start\n", mode.Name, utf8 ? "utf8" : "");
        ++failures;
        continue;
      }
      std::atomic<bool> stop{false};
      std::thread endless = Flood(listener.Port, std::string(1400, 'A'), stop);
      std::thread lines = Flood(listener.Port, "AT+GETVOL" + mode.End, stop);
      std::this_thread::sleep_for(kFlood);
      const auto [ms, rc] = listener.Interrupt();
      stop = true;
      endless.join();
      lines.join();
      const bool ok = rc == 0 && ms < std::chrono::milliseconds(kLimit).count();
      failures += ok ? 0 : 1;
      std::printf("  %-16s %-6s %9.1f MB of events printed; exited %d after %7.1f ms  %s\n",
                  mode.Name, utf8 ? "utf8" : "", listener.Printed / 1e6, rc, ms,
                  ok ? "ok" : "FAILED");
    }
  }
  return failures == 0 ? 0 : 1;
}
