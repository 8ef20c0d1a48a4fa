#include "StopSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <qx/framework/app/Application.h>

void WatchStopSignals(std::function<void()> onHangup) {
  // A reader that goes away is an error from write(), not the end of the program.
  signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (onHangup) sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) return;  // the default action (ending the process) still stops it
  Application->AddWatch(fd, [fd, onHangup] {
    signalfd_siginfo info;
    bool stop = false, hangup = false;
    while (read(fd, &info, sizeof info) == sizeof info) {
      if (info.ssi_signo == SIGHUP)
        hangup = true;
      else
        stop = true;
    }
    if (stop)
      Application->Terminate();
    else if (hangup)
      onHangup();
  });
}
