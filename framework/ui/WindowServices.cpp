#include "framework/ui/WindowServices.h"

#include <map>

#include "framework/ui/Forms.h"
#include "framework/ui/WindowBackend.h"

namespace {

std::map<HWND, TCustomForm*>& Handles() {
  static std::map<HWND, TCustomForm*> handles;
  return handles;
}

// The desktop and the taskbar are windows of the host; here they are handles whose messages
// nobody needs.
HWND InertWindow() {
  return AllocateHWnd(TWndMethod::Callable([](TMessage& m) { m.Result = 0; }));
}

}  // namespace

void RegisterFormHandle(HWND wnd, TCustomForm* form) {
  Handles()[wnd] = form;
}
void UnregisterFormHandle(HWND wnd) {
  Handles().erase(wnd);
}

TCustomForm* FindFormByHandle(HWND wnd) {
  auto it = Handles().find(wnd);
  return it != Handles().end() ? it->second : nullptr;
}

HWND DesktopWindowHandle() {
  static HWND desktop = InertWindow();
  return desktop;
}

HWND TaskbarWindowHandle() {
  TRect r;
  if (!WindowBackend().TaskbarRect(r)) return nullptr;
  static HWND taskbar = InertWindow();
  return taskbar;
}

bool WindowRectOf(HWND wnd, TRect& r) {
  if (wnd == nullptr) return false;
  if (wnd == DesktopWindowHandle()) {
    TPoint s = WindowBackend().ScreenSize();
    r = {0, 0, s.X, s.Y};
    return true;
  }
  if (TCustomForm* f = FindFormByHandle(wnd)) {
    r = f->BoundsRect();
    return true;
  }
  if (HWND taskbar = TaskbarWindowHandle(); taskbar != nullptr && wnd == taskbar)
    return WindowBackend().TaskbarRect(r);
  return false;
}
