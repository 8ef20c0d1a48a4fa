#include <qx/framework/ui/WindowServices.h>

#include <qx/framework/ui/WindowBackend.h>

namespace {

// The desktop and the taskbar are windows of the host; here they are handles whose messages
// nobody needs.
HWND InertWindow() {
  return AllocateHWnd(TWndMethod::Callable([](TMessage& m) { m.Result = 0; }));
}

}  // namespace

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

HWND FindWindowByName(const String* className, const String* caption) {
  for (int i = 0; i < Screen->FormCount(); ++i) {
    TCustomForm* f = Screen->Forms(i);
    if (className != nullptr && !SameText(*className, f->ClassName())) continue;
    if (caption != nullptr && *caption != f->Caption()) continue;
    if (!f->HandleAllocated()) continue;
    return f->Handle();
  }
  return nullptr;
}
