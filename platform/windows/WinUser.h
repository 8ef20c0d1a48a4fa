// The host's window calls by their Windows names, over the framework's window back end (an X11
// display or the virtual desktop): the taskbar and desktop windows, window rectangles and the
// z-order of form windows.
#pragma once

#include <cstdint>

#include <qx/framework/app/Messages.h>

using LONG = int32_t;
using BOOL = int32_t;

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};

inline const HWND HWND_TOP = reinterpret_cast<HWND>(0);
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(1);
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(-2);

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// A top-level window by class name and/or title (nullptr matches any). The class name
// "Shell_TrayWnd" finds the taskbar (the window manager's dock or panel, or the virtual
// desktop's taskbar); nullptr when there is none.
HWND FindWindowW(const char* lpClassName, const char* lpWindowName);
// The window's rectangle in screen pixels. False (and the rectangle untouched) for an unknown
// or null window.
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
// Position, size, z-order and activation of a form window. False for a window that is not a
// form's.
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
// The window that stands for the whole screen.
HWND GetDesktopWindow();
