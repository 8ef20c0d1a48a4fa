// The volume component has one OnAudioChange; the daemon's bridges (MQTT, HTTP, ...) each follow
// it through this list, which the daemon owns so that it outlives a form replaced on SIGHUP.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// Callables called in the order they were added. Main thread only.
template <class... Args>
class TListenerList {
 public:
  using TListener = std::function<void(Args...)>;

  // Returns the handle that Remove takes (never 0).
  int Add(TListener fn) {
    FList.emplace_back(++FLast, std::move(fn));
    return FLast;
  }
  void Remove(int id) {
    std::erase_if(FList, [id](const auto& entry) { return entry.first == id; });
  }
  // A listener may add or remove listeners while it runs: the call goes to those listed when it
  // began.
  void operator()(Args... args) const {
    const auto list = FList;
    for (const auto& entry : list) entry.second(args...);
  }

 private:
  std::vector<std::pair<int, TListener>> FList;
  int FLast = 0;
};

// OnAudioChange as the volume component raises it: volume in percent and mute, every report
// (a change made by the component comes twice, once made and once confirmed; TAudioSettler
// gives one report per change).
using TVolumeListeners = TListenerList<int32_t, bool>;
