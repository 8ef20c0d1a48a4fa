// The window back end behind forms: X11 when a display can be opened, otherwise a headless
// virtual desktop. Forms talk to their window through TBackendWindow; the window services
// (screen size, taskbar, focus) go through TWindowBackend.
#pragma once

#include <memory>

#include "framework/ui/Forms.h"
#include "framework/ui/Graphics.h"

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
  virtual std::unique_ptr<TBackendWindow> CreateWindow(TCustomForm& form,
                                                       const TCreateParams& params) = 0;
  virtual TPoint ScreenSize() = 0;
  // The taskbar's rectangle in screen pixels; false when there is none.
  virtual bool TaskbarRect(TRect& r) = 0;
  // Shows a message and waits until it is dismissed; false when the back end cannot.
  virtual bool ShowModalMessage(const String& /*text*/) { return false; }
};

// The back end in use, chosen on first use: X11 when DISPLAY names a display that opens (and
// QX_WINDOWS is not "headless"), otherwise the virtual desktop.
TWindowBackend& WindowBackend();
