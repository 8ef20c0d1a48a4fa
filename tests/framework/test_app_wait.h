// Waiting in tests: turn the main loop until a condition holds, with a generous deadline.
#pragma once

#include <chrono>
#include <functional>

#include <qx/framework/app/Application.h>

// True when `done` became true before the deadline; the loop sleeps in poll between turns.
inline bool LoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Application->HandleMessage(std::chrono::milliseconds(50));
  }
  return true;
}
