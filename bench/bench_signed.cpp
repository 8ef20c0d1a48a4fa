// Signed commands under a flood: how many forged signed lines one thread can check (parse, then
// a full HMAC-SHA256 and its constant-time compare, as the receive thread's preference and the
// component's check do) against how many datagrams a bare loopback sendto/recv pair moves in the
// same run. A ratio well above 1 means a flood of forged signed lines costs the receive side a
// small share of what receiving the same flood costs anyway.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <qx/master_volume/SignedCommand.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::vector<std::string> ForgedLines(size_t n) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < n; ++i) {
    char tag[33];
    std::snprintf(tag, sizeof tag, "%016zx%016zx", i * 2654435761u, ~i);
    lines.push_back("AT+SETVOL=7;n=" + std::to_string(9000000000000000000ull + i) + ";h=" + tag);
  }
  return lines;
}

// Datagrams a second through loopback, each sent and then received by one thread.
double DatagramRate(const std::vector<std::string>& lines, size_t count) {
  const int rx = socket(AF_INET, SOCK_DGRAM, 0), tx = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(rx, reinterpret_cast<sockaddr*>(&a), &len);
  char buf[2048];
  const auto t0 = Clock::now();
  for (size_t i = 0; i < count; ++i) {
    const std::string& l = lines[i % lines.size()];
    sendto(tx, l.data(), l.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    recv(rx, buf, sizeof buf, 0);
  }
  const double rate = count / Seconds(t0);
  close(rx);
  close(tx);
  return rate;
}

double VerifyRate(const std::vector<std::string>& lines, size_t count, size_t& accepted) {
  TQxCommandKey key{};
  TCommandMac mac(key);
  const auto t0 = Clock::now();
  for (size_t i = 0; i < count; ++i) {
    TSignedLine s;
    accepted += ParseSignedLine(lines[i % lines.size()], s) && mac.Verify(s);
  }
  return count / Seconds(t0);
}

}  // namespace

int main() {
  const auto lines = ForgedLines(4096);
  constexpr size_t kCount = 300000;
  for (int round = 0; round < 3; ++round) {
    size_t accepted = 0;
    const double datagrams = DatagramRate(lines, kCount);
    const double verifies = VerifyRate(lines, kCount, accepted);
    std::printf(
        "round %d: HMAC-SHA256 checks of forged signed lines %.0f/s; baseline loopback "
        "sendto+recv %.0f datagrams/s; ratio %.1f (accepted %zu)\n",
        round + 1, verifies, datagrams, verifies / datagrams, accepted);
  }
  return 0;
}
