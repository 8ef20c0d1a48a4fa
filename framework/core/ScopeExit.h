// Runs a function when the scope it was made in ends, however it ends: state set by hand for the
// length of a call (a flag, a binding, a registration) is undone even when the call throws.
#pragma once

#include <utility>

template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) : FAction(std::move(f)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F FAction;
};

// Sets `flag` for the rest of the scope.
inline auto ScopedFlag(bool& flag) {
  flag = true;
  return TScopeExit([&flag] { flag = false; });
}
