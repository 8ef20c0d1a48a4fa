// The X11 back end's own classes: the back end on one display connection, and its windows.
// Each window is a top-level X window with the window manager hints that give the host's window
// styles: no decorations for borderless windows, _NET_WM_STATE_ABOVE for stay-on-top, a fixed
// size and a position of the program's own (put back where a window manager moved it), and an
// XShape bounding region that leaves out the key colour. Per-window alpha is
// _NET_WM_WINDOW_OPACITY, or, where a compositor runs, the alpha of a 32-bit ARGB window's
// pixels. Under XWayland, whose compositor puts managed windows where it likes, an on-screen
// display (borderless, never focused) is an override-redirect window placed exactly. Without a
// window manager the back end keeps stay-on-top windows above the others itself. Included only
// by the X11 back end's files.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <qx/framework/ui/WindowBackend.h>
#include <qx/framework/ui/X11Connection.h>

class TX11Window;

class TX11Backend : public TWindowBackend, public TX11Connection {
 public:
  explicit TX11Backend(Display* dpy);
  const char* Name() const override { return "x11"; }
  std::unique_ptr<TBackendWindow> CreateWindow(IWindowEvents& events,
                                               const TWindowDesc& desc) override;
  // The primary monitor's size (the first monitor's when none is primary), so that on a desktop
  // of several monitors the overlay spans one, not all; the whole X screen without RandR.
  TPoint ScreenSize() override;
  // Forms place windows in the primary monitor's coordinates, whose origin is the screen's top
  // left corner for them, as on the host; X places them in the whole X screen's. The origin is
  // the primary monitor's corner in X coordinates, asked once and again with each ScreenSize.
  TPoint Origin();
  bool TaskbarRect(TRect& r) override;
  // While the server is away, messages go to standard error.
  bool ModalWindows() const override { return !Broken(); }
  void RunModal(const String& title, const TBitmap& image, const TRect& button) override;

  // Keeps the stay-on-top windows above all others when no window manager does it.
  void KeepAbove();
  // While the server is away and a window waits to be shown, looks for it again now and then,
  // never waiting on it: the display is opened on a thread of its own.
  void ScheduleRetry();

  std::vector<TX11Window*> Windows;

 private:
  TRect PrimaryMonitor();
  void Lost();
  void Reopened(Display* dpy);
  TPoint FOrigin{};
  bool FOriginKnown = false;
  TRect FMonitor{};
  int64_t FRetry = 0;
  bool FOpening = false;
  std::chrono::milliseconds FRetryDelay;
};

class TX11Window : public TBackendWindow {
 public:
  TX11Window(TX11Backend& b, IWindowEvents& events, const TWindowDesc& desc);
  ~TX11Window() override;
  void SetBounds(const TRect& r) override;
  void SetVisible(bool visible) override;
  void SetCaption(const String& caption) override;
  void SetIcon(const TBitmap& icon) override;
  void Present(const TBitmap& frame, bool keyOn, TColor key) override;
  void SetAlpha(bool on, uint8_t value) override;
  void SetTopMost(bool onTop, bool activate) override;
  void Activate() override;
  bool Active() const override { return FActive; }

  void Handle(XEvent& e);
  // Drops what the window had on a server that went away, keeping what it shows.
  void Forget();
  // Makes the window again on a new server, as it was.
  void Recreate();
  Window Win() const { return FWin; }
  bool TopMost() const { return FTopMost; }
  bool Mapped() const { return FMapped; }

 private:
  void Create();
  void Map();
  void ApplyIcon();
  void ApplyFrame();
  void ApplyAlpha();
  void UpdateShape(const TBitmap& frame, bool keyOn, TColor key);
  void UpdateState();
  // The kept frame into the ARGB image: the key see-through, the alpha applied.
  void RenderArgb();
  // Moves the window back where it was put when a window manager placed it elsewhere.
  void KeepPlace();
  TX11Backend& B;
  IWindowEvents& FEvents;
  TWindowDesc FDesc;
  Window FWin = 0;
  GC FGc = nullptr;
  XImage* FImage = nullptr;
  std::vector<uint8_t> FPixels;
  std::vector<XRectangle> FShape;
  bool FShaped = false;
  bool FMapped = false;
  bool FTopMost = false;
  bool FActive = false;
  TRect FBounds;
  bool FArgb = false;
  bool FOverride = false;
  int FReplacements = 0;
  // Kept to make the window again on a new server.
  String FCaption;
  TBitmap FIcon, FLastFrame;
  bool FLastKeyOn = false;
  TColor FLastKey = 0;
  // Kept for the ARGB window, to be drawn again at each alpha.
  std::vector<uint32_t> FFrame;
  int32_t FFrameWidth = 0, FFrameHeight = 0;
  bool FKeyOn = false;
  uint32_t FKeyWord = 0;
  bool FAlphaOn = false;
  uint8_t FAlpha = 255;
};
