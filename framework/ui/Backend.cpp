// Chooses the window back end.
#include <cstdlib>
#include <cstring>

#include <qx/framework/ui/HeadlessBackend.h>
#include <qx/framework/ui/X11Backend.h>

namespace {
TWindowBackend* Current = nullptr;
}

TWindowBackend& WindowBackend() {
  if (Current == nullptr) {
    const char* force = std::getenv("QX_WINDOWS");
    const char* display = std::getenv("DISPLAY");
    bool headless = force != nullptr && std::strcmp(force, "headless") == 0;
    if (!headless && display != nullptr && *display != '\0') Current = X11Backend();
    if (Current == nullptr) Current = &HeadlessBackend();
  }
  return *Current;
}

void UseVirtualDesktop(const TVirtualDesktop& desktop) {
  HeadlessBackend().SetDesktop(desktop);
  Current = &HeadlessBackend();
}

bool UsingVirtualDesktop() {
  return &WindowBackend() == &HeadlessBackend();
}
