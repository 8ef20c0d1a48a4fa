// The window back end beneath forms: X11 when a display can be opened, a Wayland compositor's
// layer surfaces, or a headless virtual desktop. A back end makes windows from a plain description
// and reports what happens to them through IWindowEvents; it never sees the forms or controls above
// it. The window services (screen size, taskbar, modal windows) go through TWindowBackend.
#pragma once

#include <memory>

#include <qx/framework/app/Messages.h>
#include <qx/framework/ui/Graphics.h>

// Extended window styles the back ends understand.
constexpr uint32_t WS_EX_TOOLWINDOW = 0x00000080;
constexpr uint32_t WS_EX_TOPMOST = 0x00000008;
constexpr uint32_t WS_EX_APPWINDOW = 0x00040000;
// Never given the focus by being shown or clicked (an on-screen display).
constexpr uint32_t WS_EX_NOACTIVATE = 0x08000000;

// What a window is created with; forms adjust it in CreateParams.
struct TCreateParams {
  String Caption;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  // The owner window: nullptr for the application's, GetDesktopWindow() for none.
  HWND WndParent = nullptr;
  String WinClassName;
};

class TBackendWindow;

// Everything a back end is told about a window it makes: the creation parameters, and what the
// window's owner knows beyond them (handles mean nothing to a back end).
struct TWindowDesc {
  TCreateParams Params;
  // The owner's window when the owner has one of ours; nullptr otherwise.
  TBackendWindow* Owner = nullptr;
  // Tells windows of one class apart (the X class hint's instance name); may be empty.
  String InstanceName;
  // No title bar or border.
  bool Borderless = false;
  // The user may resize it.
  bool Sizeable = true;
};

// What the user does to a window, reported by its back end to whoever made the window.
class IWindowEvents {
 public:
  enum class TMouseAction { Down, Move, Up };
  // The primary mouse button at (X, Y) of the client area: pressed, moved while held, released.
  virtual void MouseInput(TMouseAction action, int32_t X, int32_t Y) = 0;
  // The window's close box, or the window manager, asks the window to close.
  virtual void CloseRequested() = 0;
  // The window was given another size than asked for (a compositor fits an on-screen display
  // between panels); only frames of that size are shown from now on.
  virtual void Resized(int32_t /*width*/, int32_t /*height*/) {}

 protected:
  virtual ~IWindowEvents() = default;
};

class TBackendWindow {
 public:
  virtual ~TBackendWindow() = default;
  virtual void SetBounds(const TRect& r) = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void SetCaption(const String& caption) = 0;
  virtual void SetIcon(const TBitmap& icon) = 0;
  // A new frame to show; the key colour (when keyOn) is see-through.
  virtual void Present(const TBitmap& frame, bool keyOn, TColor key) = 0;
  virtual void SetAlpha(bool on, uint8_t value) = 0;
  virtual void SetTopMost(bool onTop, bool activate) = 0;
  virtual void Activate() = 0;
  virtual bool Active() const = 0;
};

enum class TTaskbarEdge { None, Top, Bottom, Left, Right };

class TWindowBackend {
 public:
  virtual ~TWindowBackend() = default;
  virtual const char* Name() const = 0;
  virtual std::unique_ptr<TBackendWindow> CreateWindow(IWindowEvents& events,
                                                       const TWindowDesc& desc) = 0;
  virtual TPoint ScreenSize() = 0;
  // The taskbar's rectangle in screen pixels; false when there is none.
  virtual bool TaskbarRect(TRect& r) = 0;
  // Whether RunModal can show a window; without one a message goes to standard error.
  virtual bool ModalWindows() const { return false; }
  // Shows `image` in a window centred on the screen above the others, and waits, serving the
  // loop, until it is dismissed: Return, Escape or Space, a click inside `button`, or closing
  // the window.
  virtual void RunModal(const String& /*title*/, const TBitmap& /*image*/,
                        const TRect& /*button*/) {}
};

// The back end in use, chosen on first use unless ChooseWindowBackend chose it: QX_WINDOWS
// "headless", "x11", "wayland" or "auto" (as ChooseWindowBackend's modes), otherwise X11 when
// DISPLAY names a display that opens, then Wayland, otherwise the virtual desktop.
TWindowBackend& WindowBackend();

// Chooses the back end for the windows made from now on, before the first one is made.
//   mode "auto": Wayland when WAYLAND_DISPLAY names a compositor offering the layer shell, else
//                X11 when DISPLAY names a display that opens, else the virtual desktop;
//        "wayland", "x11": that one; "none": the virtual desktop.
//   output: a Wayland output by name (as the compositor calls it, "HDMI-A-1"), or empty for the
//           compositor's choice; only for Wayland.
// False, with a one-line `error`, for an unknown mode, a forced back end that is not available,
// an unknown output or an output without Wayland; the back end in use stays as it was. `why`
// says which back end was taken and why, in one line ("wayland: WAYLAND_DISPLAY=wayland-1
// offers the layer shell").
bool ChooseWindowBackend(const String& mode, const String& output, String& error, String& why);
