// What the sound-server benchmarks share: a bare libpulse client as the baseline (it sets the
// default sink's volume and waits for the server's change event), the figures' summary, and
// running under a private server (scripts/with-pulse) so that no benchmark reaches the machine's.
#pragma once

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(5);

struct TStats {
  double Median;
  double P99;
};

inline TStats Summarise(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

inline double Since(Clock::time_point t0) {
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// A bare client: sets the default sink's volume and counts the server's sink change events.
class TPulseBaseline {
 public:
  ~TPulseBaseline() {
    if (FLoop == nullptr) return;
    pa_threaded_mainloop_stop(FLoop);
    if (FContext != nullptr) {
      pa_context_disconnect(FContext);
      pa_context_unref(FContext);
    }
    pa_threaded_mainloop_free(FLoop);
  }

  bool Connect() {
    FLoop = pa_threaded_mainloop_new();
    if (FLoop == nullptr || pa_threaded_mainloop_start(FLoop) < 0) return false;
    Locked lock(FLoop);
    FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "qx-bench-baseline");
    pa_context_set_state_callback(FContext, &TPulseBaseline::OnState, this);
    if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    for (;;) {
      pa_context_state_t s = pa_context_get_state(FContext);
      if (s == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(s)) return false;
      pa_threaded_mainloop_wait(FLoop);
    }
    pa_context_set_subscribe_callback(FContext, &TPulseBaseline::OnEvent, this);
    Wait(pa_context_subscribe(FContext, PA_SUBSCRIPTION_MASK_SINK, &TPulseBaseline::OnDone, this));
    Wait(pa_context_get_server_info(FContext, &TPulseBaseline::OnServer, this));
    Wait(pa_context_get_sink_info_by_name(FContext, FSink.c_str(), &TPulseBaseline::OnSink, this));
    return !FSink.empty() && FChannels > 0;
  }

  // The sink change events seen so far; and waiting for one more than count, false after the
  // deadline. With these the server's own word ends a round of a client that does not wait.
  uint64_t Events() {
    std::lock_guard lock(FLock);
    return FEvents;
  }
  bool EventAfter(uint64_t count) {
    std::unique_lock wait(FLock);
    return FChanged.wait_for(wait, kDeadline, [&] { return FEvents > count; });
  }

  // Sets the percent and waits for the change event it causes; false after the deadline.
  bool SetAndWait(int percent) {
    const uint64_t before = Events();
    {
      Locked lock(FLoop);
      pa_cvolume v;
      pa_cvolume_set(&v, FChannels, static_cast<pa_volume_t>(PA_VOLUME_NORM * percent / 100));
      pa_operation_unref(
          pa_context_set_sink_volume_by_name(FContext, FSink.c_str(), &v, nullptr, nullptr));
    }
    return EventAfter(before);
  }

 private:
  struct Locked {
    explicit Locked(pa_threaded_mainloop* l) : L(l) { pa_threaded_mainloop_lock(L); }
    ~Locked() { pa_threaded_mainloop_unlock(L); }
    pa_threaded_mainloop* L;
  };
  // Waits for an operation (the loop's lock held).
  void Wait(pa_operation* op) {
    if (op == nullptr) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(FLoop);
    pa_operation_unref(op);
  }
  // An operation waited for must wake the waiter when it ends.
  static void OnDone(pa_context*, int, void* self) {
    pa_threaded_mainloop_signal(static_cast<TPulseBaseline*>(self)->FLoop, 0);
  }
  static void OnState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<TPulseBaseline*>(self)->FLoop, 0);
  }
  static void OnServer(pa_context*, const pa_server_info* info, void* self) {
    auto* b = static_cast<TPulseBaseline*>(self);
    if (info != nullptr && info->default_sink_name != nullptr) b->FSink = info->default_sink_name;
    pa_threaded_mainloop_signal(b->FLoop, 0);
  }
  static void OnSink(pa_context*, const pa_sink_info* info, int, void* self) {
    auto* b = static_cast<TPulseBaseline*>(self);
    if (info != nullptr) b->FChannels = info->volume.channels;
    pa_threaded_mainloop_signal(b->FLoop, 0);
  }
  static void OnEvent(pa_context*, pa_subscription_event_type_t t, uint32_t, void* self) {
    auto* b = static_cast<TPulseBaseline*>(self);
    if ((t & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE) return;
    std::lock_guard lock(b->FLock);
    ++b->FEvents;
    b->FChanged.notify_all();
  }

  pa_threaded_mainloop* FLoop = nullptr;
  pa_context* FContext = nullptr;
  std::string FSink;
  uint8_t FChannels = 0;
  std::mutex FLock;
  std::condition_variable FChanged;
  uint64_t FEvents = 0;
};

// Outside scripts/with-pulse, runs the program again under it (and does not return).
inline void RunUnderPrivateServer(int argc, char** argv) {
  if (std::getenv("QX_PULSE_STOP") != nullptr) return;
  execl(QX_WITH_PULSE, QX_WITH_PULSE, argv[0], argc > 1 ? argv[1] : nullptr, nullptr);
  std::perror("cannot run scripts/with-pulse");
  std::exit(1);
}

// Measures `rounds` rounds of each side, a round being: set a percent, wait for its report
// (ourRound(percent) and the bare client's SetAndWait, each false when nothing came within the
// deadline). Interleaved batches after a warm-up, so that a change in machine load hits both sides
// alike. False, after saying so, when a report did not come.
template <class TRound>
bool MeasureAgainstBaseline(const char* program, int rounds, TPulseBaseline& bare, TRound ourRound,
                            std::vector<double>& ours, std::vector<double>& base) {
  constexpr int kBatches = 20;
  rounds = std::max(rounds, 100);
  int n = 0;
  auto percent = [&] { return 20 + (n++ % 60); };  // never the previous value
  for (int i = 0; i < rounds / 10; ++i) {
    ourRound(percent());
    bare.SetAndWait(percent());
  }
  for (int b = 0; b < kBatches; ++b) {
    // One unmeasured round per side first takes in what the other side's changes left queued.
    ourRound(percent());
    for (int i = 0; i < rounds / kBatches; ++i) {
      const auto t0 = Clock::now();
      if (!ourRound(percent())) {
        std::fprintf(stderr, "%s: no notification within 5 s\n", program);
        return false;
      }
      ours.push_back(Since(t0));
    }
    bare.SetAndWait(percent());
    for (int i = 0; i < rounds / kBatches; ++i) {
      const auto t0 = Clock::now();
      if (!bare.SetAndWait(percent())) {
        std::fprintf(stderr, "%s: no subscription event within 5 s\n", program);
        return false;
      }
      base.push_back(Since(t0));
    }
  }
  return true;
}

// Prints a figure of this run.
inline void PrintFigure(const char* label, const TStats& s) {
  std::printf("%-38s : median %8.1f us   p99 %8.1f us\n", label, s.Median, s.P99);
}

// Prints both sides' figures and their ratio.
inline void PrintComparison(const char* ourLabel, const TStats& ours, const TStats& base) {
  PrintFigure(ourLabel, ours);
  PrintFigure("libpulse set -> subscription event", base);
  std::printf("%-38s : median %8.2f      p99 %8.2f\n", "ratio (target <= 1.5)",
              ours.Median / base.Median, ours.P99 / base.P99);
}

}  // namespace
