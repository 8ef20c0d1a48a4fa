// The sound server stopped and resumed again and again (SIGSTOP/SIGCONT of a private server;
// outside scripts/with-pulse it runs itself under it): stalls from a tenth of a second to five
// seconds, the endpoint and the ALSA mixer in turn written every 20 ms meanwhile. No call may
// hold its caller 100 ms, and after each stall the sink must end at the last value asked for.
//   soak_audio_stall [CYCLES]   (default 12, about a minute)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <qx/platform/mixer/mmsystem.h>
#include "bench/PrivateServerControl.h"
#include "tests/platform/mixer_caller.h"
#include "tests/platform/test_audio_endpoint.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QX_PULSE_STOP") == nullptr) {
    execl(QX_WITH_PULSE, QX_WITH_PULSE, argv[0], argc > 1 ? argv[1] : nullptr, nullptr);
    std::perror("soak_audio_stall: scripts/with-pulse");
    return 1;
  }
  const int cycles = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 12;
  HRESULT hr;
  TComPtr<IAudioEndpointVolume> endpoint = OpenDefaultEndpoint(hr);
  if (FAILED(hr) || mixerGetNumDevs() != 1) {
    std::fprintf(stderr, "soak_audio_stall: the private sound server does not answer\n");
    return 1;
  }
  std::mt19937 random(2300);
  auto longest = Clock::duration::zero();
  int failures = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    const bool mixer = cycle % 2 == 0;
    const auto stall = std::chrono::milliseconds(100 + random() % 4900);
    long want = -1;  // the raw sink value the last write means
    if (!SignalPrivateServer(SIGSTOP)) return 1;
    for (const auto end = Clock::now() + stall; Clock::now() < end;) {
      const DWORD value = random() % 65536;
      const auto t0 = Clock::now();
      if (mixer) {
        if (TMixerCaller().Write(value) != MMSYSERR_NOERROR) ++failures;
        want = static_cast<long>((int64_t{value} * 65536 + 32767) / 65535);
      } else {
        const float level = static_cast<float>(value) / 65535.0f;
        if (FAILED(endpoint->SetMasterVolumeLevelScalar(level, nullptr))) ++failures;
        want = std::lround(level * 65536);
      }
      longest = std::max(longest, Clock::now() - t0);
      std::this_thread::sleep_for(20ms);
    }
    SignalPrivateServer(SIGCONT);
    const auto deadline = Clock::now() + 10s;
    long now = DefaultSinkVolume(false);
    while (std::labs(now - want) > 1 && Clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
      now = DefaultSinkVolume(false);
    }
    const bool ended = std::labs(now - want) <= 1;
    if (!ended) ++failures;
    std::printf("cycle %2d: %-8s stopped %5lld ms, sink %6ld (last asked %6ld) %s\n", cycle,
                mixer ? "mixer" : "endpoint", static_cast<long long>(stall.count()), now, want,
                ended ? "ok" : "WRONG");
    std::fflush(stdout);
  }
  const double longestMs = std::chrono::duration<double, std::milli>(longest).count();
  std::printf("longest call while stopped: %.1f ms (limit 100)\n", longestMs);
  if (longestMs >= 100) ++failures;
  std::printf("%s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
