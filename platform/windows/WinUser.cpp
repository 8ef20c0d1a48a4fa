#include <qx/platform/windows/WinUser.h>

#include <qx/framework/ui/Forms.h>
#include <qx/framework/ui/WindowServices.h>

namespace {
// The host's class name of its taskbar window.
constexpr const char* TaskbarClassName = "Shell_TrayWnd";
}  // namespace

HWND FindWindowW(const char* lpClassName, const char* lpWindowName) {
  if (lpClassName != nullptr && String(lpClassName) == TaskbarClassName)
    return lpWindowName != nullptr ? nullptr : TaskbarWindowHandle();
  String cls = lpClassName != nullptr ? lpClassName : "";
  String title = lpWindowName != nullptr ? lpWindowName : "";
  return FindWindowByName(lpClassName != nullptr ? &cls : nullptr,
                          lpWindowName != nullptr ? &title : nullptr);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect) {
  TRect r;
  if (lpRect == nullptr || !WindowRectOf(hWnd, r)) return false;
  *lpRect = RECT{r.Left, r.Top, r.Right, r.Bottom};
  return true;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  TCustomForm* form = FindFormByHandle(hWnd);
  if (form == nullptr) return false;
  if ((uFlags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) {
    TRect b = form->BoundsRect();
    if (!(uFlags & SWP_NOMOVE)) b = {X, Y, X + b.Width(), Y + b.Height()};
    if (!(uFlags & SWP_NOSIZE)) b.Right = b.Left + cx, b.Bottom = b.Top + cy;
    form->SetBounds(b.Left, b.Top, b.Width(), b.Height());
  }
  if (uFlags & SWP_SHOWWINDOW) form->Show();
  if (uFlags & SWP_HIDEWINDOW) form->Hide();
  bool activate = !(uFlags & SWP_NOACTIVATE);
  if (!(uFlags & SWP_NOZORDER)) {
    bool onTop = form->StayOnTop();
    if (hWndInsertAfter == HWND_TOPMOST) onTop = true;
    if (hWndInsertAfter == HWND_NOTOPMOST) onTop = false;
    form->SetStayOnTop(onTop, activate);
  } else if (activate) {
    form->SetFocus();
  }
  return true;
}

HWND GetDesktopWindow() {
  return DesktopWindowHandle();
}
