#include "StopSignals.h"

#include <signal.h>

#include <atomic>
#include <memory>
#include <thread>

#include <qx/framework/app/Application.h>

void WatchStopSignals(std::function<void()> onHangup, std::function<void()> onStop) {
  // A reader that goes away is an error from write(), not the end of the program.
  signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (onHangup) sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Never joined: it waits for signals as long as the process lives, and touches nothing but
  // the application object, which is never freed.
  std::thread([set, onHangup = std::move(onHangup), onStop = std::move(onStop)] {
    // Set while a run of onHangup is queued and has not started yet.
    auto queued = std::make_shared<std::atomic<bool>>(false);
    for (;;) {
      const int sig = sigwaitinfo(&set, nullptr);
      if (sig < 0) continue;  // EINTR
      if (sig != SIGHUP) {
        if (onStop) onStop();
        Application->Terminate();
      } else if (!queued->exchange(true)) {
        Application->Queue([queued, onHangup] {
          queued->store(false);
          onHangup();
        });
      }
    }
  }).detach();
}
