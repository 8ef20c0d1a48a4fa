// Window handles and messages: hidden windows whose posted messages reach a method on the main
// thread, in order, and the handle table that form windows share.
#pragma once

#include <cstdint>

#include <qx/framework/core/Classes.h>

struct HWND__;
using HWND = HWND__*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using LONG_PTR = intptr_t;
using UINT = uint32_t;

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};
using TWndMethod = TMethod<TMessage&>;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_CLOSE = 0x0010;
constexpr int GWL_WNDPROC = -4;
constexpr int GWL_USERDATA = -21;

// A handle whose messages go to `method` on the main thread.
HWND AllocateHWnd(const TWndMethod& method);
// Destroys the window and frees the method instance its procedure slot holds.
void DeallocateHWnd(HWND wnd);
// Queues a message for the window; safe from any thread. False for a destroyed or unknown window.
// A message still queued when its window is destroyed is dropped. At most 10,000 posted
// messages wait at a time; beyond that a post fails.
bool PostMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Delivers a message at once (from another thread: on the main thread, waiting for it). Returns
// the window's Result, 0 for no window.
LRESULT SendMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same number for the same name (case-insensitive), in 0xC000..0xFFFF; 0 for an empty name
// or when the range is used up.
UINT RegisterWindowMessageW(const String& name);
// The default handling: does nothing, Result 0.
LRESULT DefWindowProcW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Window procedures. The GWL_WNDPROC slot holds either the address of DefWindowProcW or a method
// instance from MakeObjectInstance, so a procedure can be read, replaced and put back.
void* MakeObjectInstance(const TWndMethod& method);
// A freed instance left in a slot behaves as DefWindowProcW.
void FreeObjectInstance(void* instance);
// GWL_WNDPROC and GWL_USERDATA; 0 for an unknown window or index. Setting a procedure that is
// neither DefWindowProcW nor a live instance is refused (returns 0, slot unchanged).
LONG_PTR GetWindowLongW(HWND wnd, int index);
LONG_PTR SetWindowLongW(HWND wnd, int index, LONG_PTR value);
bool DestroyWindow(HWND wnd);
bool IsWindow(HWND wnd);
