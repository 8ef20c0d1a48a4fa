// The window handles behind the host's window calls (FindWindowW, GetWindowRect, SetWindowPos,
// GetDesktopWindow): form windows by handle, the desktop window and the taskbar window.
#pragma once

#include <qx/framework/app/Messages.h>
#include <qx/framework/ui/Forms.h>
#include <qx/framework/ui/Graphics.h>

// The handle that stands for the whole screen.
HWND DesktopWindowHandle();
// The handle of the taskbar window, or nullptr when the desktop has none.
HWND TaskbarWindowHandle();
// A window's rectangle in screen pixels; false for an unknown handle.
bool WindowRectOf(HWND wnd, TRect& r);
// A form window by class name and/or caption (nullptr matches anything), the first made first.
HWND FindWindowByName(const String* className, const String* caption);
