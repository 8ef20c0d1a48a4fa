#include "AudioSettler.h"

#include <chrono>

#include <qx/framework/app/Application.h>

namespace {

// How long a replayed state may follow the one it repeats, and how long a held one waits.
constexpr int64_t kReplayWindowMs = 1000;
constexpr auto kHold = std::chrono::milliseconds(300);
constexpr size_t kRecentStates = 16;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TAudioSettler::~TAudioSettler() {
  if (FHoldTimer != 0) Application->CancelTimer(FHoldTimer);
}

void TAudioSettler::Report(int32_t volume, bool mute) {
  const int64_t now = SteadyMs();
  FLatest = {volume, mute, now};
  if (!FPassed.empty() && FPassed.back() == FLatest) return;
  bool replayed = false;
  for (const TState& s : FPassed)
    replayed = replayed || (s == FLatest && now - s.At < kReplayWindowMs);
  if (!replayed) {
    PassOn(FLatest);
    return;
  }
  if (FHoldTimer == 0)
    FHoldTimer = Application->StartTimer(kHold, [this] {
      FHoldTimer = 0;
      if (FPassed.empty() || !(FPassed.back() == FLatest)) PassOn(FLatest);
    });
}

void TAudioSettler::PassOn(const TState& state) {
  FPassed.push_back({state.Volume, state.Mute, SteadyMs()});
  if (FPassed.size() > kRecentStates) FPassed.pop_front();
  FOut(state.Volume, state.Mute);
}
