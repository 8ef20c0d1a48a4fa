// Who hears of every audio change besides the daemon's own printer: the network bridges. Each
// adds a callable and keeps the id to take it out again; all of it runs on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

class TVolumeListeners {
 public:
  using TListener = std::function<void(int32_t volume, bool mute)>;

  int Add(TListener listener) {
    FListeners.emplace(++FLast, std::move(listener));
    return FLast;
  }
  void Remove(int id) { FListeners.erase(id); }
  void Notify(int32_t volume, bool mute) const {
    for (const auto& [id, listener] : FListeners) listener(volume, mute);
  }

 private:
  std::map<int, TListener> FListeners;
  int FLast = 0;
};
