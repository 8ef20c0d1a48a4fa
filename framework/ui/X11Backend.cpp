#include <qx/framework/ui/X11Backend.h>

#include <algorithm>
#include <thread>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/X11Windows.h>

namespace {

// How often a server that went away is looked for while a window waits to be shown: soon at
// first, then less often.
constexpr std::chrono::milliseconds kFirstRetry{500}, kLastRetry{8000};

}  // namespace

TX11Backend::TX11Backend(Display* dpy) : TX11Connection(dpy), FRetryDelay(kFirstRetry) {
  OnLost = [this] { Lost(); };
}

std::unique_ptr<TBackendWindow> TX11Backend::CreateWindow(IWindowEvents& events,
                                                          const TWindowDesc& desc) {
  return std::make_unique<TX11Window>(*this, events, desc);
}

void TX11Backend::Lost() {
  for (TX11Window* w : Windows) w->Forget();
  ScheduleRetry();
}

void TX11Backend::ScheduleRetry() {
  if (!Broken() || FRetry != 0 || FOpening || Application == nullptr) return;
  if (std::none_of(Windows.begin(), Windows.end(), [](TX11Window* w) { return w->Mapped(); }))
    return;
  const auto delay = FRetryDelay;
  FRetryDelay = std::min(FRetryDelay * 2, kLastRetry);
  FRetry = Application->StartTimer(delay, [this] {
    FRetry = 0;
    FOpening = true;
    // A server that accepts and then does not answer (a stopped compositor) would hold the loop
    // in XOpenDisplay; on its own thread it holds only that thread. The loop makes no X calls
    // meanwhile: every window has forgotten the old server.
    std::thread([this, name = DisplayName()] {
      Display* dpy = XOpenDisplay(name.c_str());
      Application->Queue([this, dpy] { Reopened(dpy); });
    }).detach();
  });
}

void TX11Backend::Reopened(Display* dpy) {
  FOpening = false;
  if (dpy == nullptr) {
    ScheduleRetry();
    return;
  }
  FRetryDelay = kFirstRetry;
  FOriginKnown = false;
  Reattach(dpy);
  // Owners come before the windows they own: in the order they were made.
  for (TX11Window* w : Windows) w->Recreate();
  Flush();
}

TWindowBackend* X11Backend() {
  static TWindowBackend* backend = []() -> TWindowBackend* {
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) return nullptr;
    return new TX11Backend(dpy);  // lives as long as the process
  }();
  return backend;
}
