// What the daemon's benchmarks share: an independent libpulse client that sees the sound
// server's volume change, a UDP peer on a loopback address, free ports and the summary figures.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pulse/pulseaudio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
  double Median, P99;
};
Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

// The independent observer: a libpulse client subscribed to sink changes, keeping the default
// sink's volume in percent.
class TSinkWatcher {
 public:
  bool Start() {
    FLoop = pa_threaded_mainloop_new();
    FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "bench_qxvolumed");
    pa_context_set_state_callback(FContext, &TSinkWatcher::OnState, this);
    pa_context_set_subscribe_callback(FContext, &TSinkWatcher::OnEvent, this);
    if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    pa_threaded_mainloop_start(FLoop);
    pa_threaded_mainloop_lock(FLoop);
    while (pa_context_get_state(FContext) != PA_CONTEXT_READY) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext))) {
        pa_threaded_mainloop_unlock(FLoop);
        return false;
      }
      pa_threaded_mainloop_wait(FLoop);
    }
    pa_operation_unref(pa_context_subscribe(FContext, PA_SUBSCRIPTION_MASK_SINK, nullptr, this));
    pa_threaded_mainloop_unlock(FLoop);
    Query();
    return true;
  }
  ~TSinkWatcher() {
    if (FLoop) pa_threaded_mainloop_stop(FLoop);
    if (FContext) {
      pa_context_disconnect(FContext);
      pa_context_unref(FContext);
    }
    if (FLoop) pa_threaded_mainloop_free(FLoop);
  }
  // Sets the default sink's volume from this client.
  void Set(int percent) {
    pa_cvolume v;
    pa_cvolume_set(&v, 2, static_cast<pa_volume_t>(PA_VOLUME_NORM * percent / 100.0 + 0.5));
    pa_threaded_mainloop_lock(FLoop);
    pa_operation_unref(
        pa_context_set_sink_volume_by_name(FContext, "@DEFAULT_SINK@", &v, nullptr, nullptr));
    pa_threaded_mainloop_unlock(FLoop);
  }
  // Waits until the watched volume is `percent`; the time it was seen, or nothing by the deadline.
  bool WaitFor(int percent, Clock::time_point& seen, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(FLock);
    bool ok = FChanged.wait_for(lock, limit, [&] { return FPercent == percent; });
    seen = FSeen;
    return ok;
  }

 private:
  void Query() {
    pa_threaded_mainloop_lock(FLoop);
    pa_operation_unref(
        pa_context_get_sink_info_by_name(FContext, "@DEFAULT_SINK@", &TSinkWatcher::OnSink, this));
    pa_threaded_mainloop_unlock(FLoop);
  }
  static void OnState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<TSinkWatcher*>(self)->FLoop, 0);
  }
  static void OnEvent(pa_context* c, pa_subscription_event_type_t, uint32_t index, void* self) {
    pa_operation_unref(pa_context_get_sink_info_by_index(c, index, &TSinkWatcher::OnSink, self));
  }
  static void OnSink(pa_context*, const pa_sink_info* info, int eol, void* self) {
    if (eol || info == nullptr) return;
    auto* w = static_cast<TSinkWatcher*>(self);
    const int percent =
        static_cast<int>(pa_cvolume_max(&info->volume) * 100.0 / PA_VOLUME_NORM + 0.5);
    std::lock_guard<std::mutex> lock(w->FLock);
    w->FPercent = percent;
    w->FSeen = Clock::now();
    w->FChanged.notify_all();
  }

  pa_threaded_mainloop* FLoop = nullptr;
  pa_context* FContext = nullptr;
  std::mutex FLock;
  std::condition_variable FChanged;
  int FPercent = -1;
  Clock::time_point FSeen;
};

// A free loopback port, for a datagram socket or (`type` SOCK_STREAM) a listener.
int FreePort(int type = SOCK_DGRAM) {
  int fd = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// A UDP socket bound to a loopback source address, sending to the daemon.
struct TPeer {
  TPeer(const char* source, int port) {
    Fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, source, &a.sin_addr);
    bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    To.sin_family = AF_INET;
    To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    To.sin_port = htons(static_cast<uint16_t>(port));
  }
  ~TPeer() { close(Fd); }
  void Send(const std::string& s) {
    sendto(Fd, s.data(), s.size(), 0, reinterpret_cast<const sockaddr*>(&To), sizeof To);
  }
  int Fd;
  sockaddr_in To{};
};

// The daemon's benchmarks' main: re-runs the program under scripts/with-pulse (never the
// machine's own sound server), then runs `inner` with the daemon's path (argv[1], else the
// qxvolumed beside the program).
template <class Inner>
int RunBesidePrivatePulse(int argc, char** argv, const char* name, Inner inner) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = 0;
  std::string dir(self);
  dir.erase(dir.rfind('/'));
  const std::string daemonBin = argc > 1 ? argv[1] : dir + "/qxvolumed";
  if (std::getenv("QX_BENCH_UNDER_PULSE") == nullptr) {
    setenv("QX_BENCH_UNDER_PULSE", "1", 1);
    // A second daemon to compare with, where given, goes along.
    execl(QX_WITH_PULSE, QX_WITH_PULSE, self, daemonBin.c_str(), argc > 2 ? argv[2] : nullptr,
          static_cast<char*>(nullptr));
    std::fprintf(stderr, "%s: %s: %s\n", name, QX_WITH_PULSE, std::strerror(errno));
    return 1;
  }
  if constexpr (std::is_invocable_v<Inner, const std::string&, const std::string&>)
    return inner(daemonBin, argc > 2 ? argv[2] : "");
  else
    return inner(daemonBin);
}

}  // namespace
