// For the stall checks under scripts/with-pulse: stopping and resuming the private sound server,
// and its default sink's volume as pactl reports it.
#pragma once

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

// SIGSTOP or SIGCONT to the private daemon; false when there is none.
inline bool SignalPrivateServer(int sig) {
  const char* file = std::getenv("QX_PULSE_PIDFILE");
  if (file == nullptr) return false;
  std::ifstream pidFile(file);
  pid_t pid = 0;
  return (pidFile >> pid) && pid > 0 && kill(pid, sig) == 0;
}

// The default sink's first channel, "Volume: front-left: 30000 /  46% / ...": its raw value
// (0..65536), or with percent its percentage; -1 when pactl says nothing.
inline long DefaultSinkVolume(bool percent) {
  FILE* p = popen("pactl get-sink-volume @DEFAULT_SINK@ 2>/dev/null", "r");
  if (p == nullptr) return -1;
  char line[512] = {};
  const bool read = fgets(line, sizeof line, p) != nullptr;
  pclose(p);
  const char* at = read ? std::strchr(line, ':') : nullptr;
  if (at != nullptr) at = std::strchr(at + 1, percent ? '/' : ':');
  return at != nullptr ? std::atol(at + 1) : -1;
}

}  // namespace
