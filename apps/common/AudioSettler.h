// One report per change of the volume and mute state. The volume component reports its own
// changes twice, once when made and once when the system confirms them, and after a burst of
// changes the confirmations replay the burst: a state equal to the one passed on last is
// dropped, and one equal to a state passed on in the last moments is held back until the
// reports settle. The last state passed on is always the latest one. Main thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

class TAudioSettler {
 public:
  using TOutput = std::function<void(int32_t volume, bool mute)>;
  explicit TAudioSettler(TOutput out) : FOut(std::move(out)) {}
  ~TAudioSettler();
  TAudioSettler(const TAudioSettler&) = delete;
  TAudioSettler& operator=(const TAudioSettler&) = delete;

  void Report(int32_t volume, bool mute);

 private:
  struct TState {
    int32_t Volume;
    bool Mute;
    int64_t At;  // when passed on, steady clock milliseconds
    bool operator==(const TState& o) const { return Volume == o.Volume && Mute == o.Mute; }
  };
  void PassOn(const TState& state);

  TOutput FOut;
  std::deque<TState> FPassed;  // the last few states passed on, newest last
  TState FLatest{};
  int64_t FHoldTimer = 0;
};
