// Form windows on an X display. Each form window is a top-level X window with the window
// manager hints that give the host's window styles: no decorations for borderless forms,
// _NET_WM_STATE_ABOVE for stay-on-top, _NET_WM_WINDOW_OPACITY for per-window alpha, and an
// XShape bounding region that leaves out the key colour. Without a window manager the back end
// keeps stay-on-top windows above the others itself.
#include "framework/ui/X11Backend.h"

// Xlib's `Screen` type would clash with the framework's Screen object.
#define Screen XlibScreen
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>
#undef Screen
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "framework/app/Application.h"

namespace {

int IgnoreXErrors(Display*, XErrorEvent*) {
  // A window of another client may vanish between finding it and asking about it.
  return 0;
}

struct TAtoms {
  Atom WM_PROTOCOLS, WM_DELETE_WINDOW, UTF8_STRING, NET_WM_NAME, NET_WM_STATE, NET_WM_STATE_ABOVE,
      NET_WM_STATE_SKIP_TASKBAR, NET_WM_STATE_MODAL, NET_WM_WINDOW_TYPE, NET_WM_WINDOW_TYPE_NORMAL,
      NET_WM_WINDOW_TYPE_UTILITY, NET_WM_WINDOW_TYPE_DOCK, NET_WM_WINDOW_TYPE_DIALOG,
      NET_WM_WINDOW_OPACITY, NET_WM_ICON, NET_WM_PID, NET_WM_USER_TIME, NET_CLIENT_LIST,
      NET_ACTIVE_WINDOW, NET_SUPPORTING_WM_CHECK, MOTIF_WM_HINTS;
};

}  // namespace

class TX11Window;

class TX11Backend : public TWindowBackend {
 public:
  TX11Backend(Display* dpy);
  const char* Name() const override { return "x11"; }
  std::unique_ptr<TBackendWindow> CreateWindow(IWindowEvents& events,
                                               const TWindowDesc& desc) override;
  // The primary monitor's size (the first monitor's when none is primary), so that on a desktop
  // of several monitors the overlay spans one, not all; the whole X screen without RandR.
  TPoint ScreenSize() override {
    TPoint size{DisplayWidth(Dpy, ScreenNo), DisplayHeight(Dpy, ScreenNo)};
    int count = 0;
    if (XRRMonitorInfo* monitors = XRRGetMonitors(Dpy, Root, True, &count)) {
      XRRMonitorInfo* chosen = count > 0 ? &monitors[0] : nullptr;
      for (int i = 0; i < count; ++i)
        if (monitors[i].primary) chosen = &monitors[i];
      if (chosen != nullptr && chosen->width > 0 && chosen->height > 0)
        size = {chosen->width, chosen->height};
      XRRFreeMonitors(monitors);
    }
    return size;
  }
  bool TaskbarRect(TRect& r) override;
  bool ShowModalMessage(const String& text) override;

  // Sends what is buffered, and makes sure events Xlib has already read are served too.
  void Flush();
  void Drain();
  bool WindowManagerRunning();
  void SendWmMessage(Window w, Atom type, long a0, long a1 = 0, long a2 = 0, long a3 = 0);
  void SetWmState(Window w, const std::vector<Atom>& states);
  // Puts the image into the window (the whole window when no rectangle is given).
  void PutImage(Window w, GC gc, XImage* img, int x, int y, int width, int height);
  XImage* MakeImage(const TBitmap& frame, std::vector<uint8_t>& store);
  // Keeps the stay-on-top windows above all others when no window manager does it.
  void KeepAbove();

  Display* Dpy;
  int ScreenNo;
  Window Root;
  Visual* Vis;
  int Depth;
  bool HasShape = false;
  TAtoms A{};
  std::vector<TX11Window*> Windows;
  std::map<Window, std::function<void(XEvent&)>> Handlers;
  bool DrainQueued = false;
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
  Window Win() const { return FWin; }
  bool TopMost() const { return FTopMost; }
  bool Mapped() const { return FMapped; }

 private:
  void UpdateShape(const TBitmap& frame, bool keyOn, TColor key);
  void UpdateState();
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
};

// ---------------------------------------------------------------------------------------------

TX11Backend::TX11Backend(Display* dpy)
    : Dpy(dpy),
      ScreenNo(DefaultScreen(dpy)),
      Root(RootWindow(dpy, ScreenNo)),
      Vis(DefaultVisual(dpy, ScreenNo)),
      Depth(DefaultDepth(dpy, ScreenNo)) {
  XSetErrorHandler(IgnoreXErrors);
  int ev, err;
  HasShape = XShapeQueryExtension(Dpy, &ev, &err);
  auto atom = [&](const char* n) { return XInternAtom(Dpy, n, False); };
  A.WM_PROTOCOLS = atom("WM_PROTOCOLS");
  A.WM_DELETE_WINDOW = atom("WM_DELETE_WINDOW");
  A.UTF8_STRING = atom("UTF8_STRING");
  A.NET_WM_NAME = atom("_NET_WM_NAME");
  A.NET_WM_STATE = atom("_NET_WM_STATE");
  A.NET_WM_STATE_ABOVE = atom("_NET_WM_STATE_ABOVE");
  A.NET_WM_STATE_SKIP_TASKBAR = atom("_NET_WM_STATE_SKIP_TASKBAR");
  A.NET_WM_STATE_MODAL = atom("_NET_WM_STATE_MODAL");
  A.NET_WM_WINDOW_TYPE = atom("_NET_WM_WINDOW_TYPE");
  A.NET_WM_WINDOW_TYPE_NORMAL = atom("_NET_WM_WINDOW_TYPE_NORMAL");
  A.NET_WM_WINDOW_TYPE_UTILITY = atom("_NET_WM_WINDOW_TYPE_UTILITY");
  A.NET_WM_WINDOW_TYPE_DOCK = atom("_NET_WM_WINDOW_TYPE_DOCK");
  A.NET_WM_WINDOW_TYPE_DIALOG = atom("_NET_WM_WINDOW_TYPE_DIALOG");
  A.NET_WM_WINDOW_OPACITY = atom("_NET_WM_WINDOW_OPACITY");
  A.NET_WM_ICON = atom("_NET_WM_ICON");
  A.NET_WM_PID = atom("_NET_WM_PID");
  A.NET_WM_USER_TIME = atom("_NET_WM_USER_TIME");
  A.NET_CLIENT_LIST = atom("_NET_CLIENT_LIST");
  A.NET_ACTIVE_WINDOW = atom("_NET_ACTIVE_WINDOW");
  A.NET_SUPPORTING_WM_CHECK = atom("_NET_SUPPORTING_WM_CHECK");
  A.MOTIF_WM_HINTS = atom("_MOTIF_WM_HINTS");
  Application->AddWatch(ConnectionNumber(Dpy), [this] { Drain(); });
}

void TX11Backend::Flush() {
  XFlush(Dpy);
  if (XEventsQueued(Dpy, QueuedAlready) > 0 && !DrainQueued) {
    DrainQueued = true;
    Application->Queue([this] { Drain(); });
  }
}

void TX11Backend::Drain() {
  DrainQueued = false;
  while (XPending(Dpy) > 0) {
    XEvent e;
    XNextEvent(Dpy, &e);
    auto it = Handlers.find(e.xany.window);
    if (it != Handlers.end()) {
      auto handler = it->second;  // the handler may remove itself
      handler(e);
    }
  }
  XFlush(Dpy);
}

bool TX11Backend::WindowManagerRunning() {
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  bool running = false;
  if (XGetWindowProperty(Dpy, Root, A.NET_SUPPORTING_WM_CHECK, 0, 1, False, XA_WINDOW, &type,
                         &format, &n, &after, &data) == Success &&
      data != nullptr && n == 1) {
    Window check = *reinterpret_cast<Window*>(data);
    XWindowAttributes wa;
    running = check != 0 && XGetWindowAttributes(Dpy, check, &wa) != 0;
  }
  if (data != nullptr) XFree(data);
  return running;
}

void TX11Backend::SendWmMessage(Window w, Atom type, long a0, long a1, long a2, long a3) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = type;
  e.xclient.format = 32;
  e.xclient.data.l[0] = a0;
  e.xclient.data.l[1] = a1;
  e.xclient.data.l[2] = a2;
  e.xclient.data.l[3] = a3;
  XSendEvent(Dpy, Root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

void TX11Backend::SetWmState(Window w, const std::vector<Atom>& states) {
  if (states.empty()) {
    XDeleteProperty(Dpy, w, A.NET_WM_STATE);
    return;
  }
  XChangeProperty(Dpy, w, A.NET_WM_STATE, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(states.data()),
                  static_cast<int>(states.size()));
}

XImage* TX11Backend::MakeImage(const TBitmap& frame, std::vector<uint8_t>& store) {
  const int w = frame.Width(), h = frame.Height();
  XImage* img = XCreateImage(Dpy, Vis, Depth, ZPixmap, 0, nullptr, w, h, 32, 0);
  if (img == nullptr) return nullptr;
  store.assign(size_t(img->bytes_per_line) * h, 0);
  img->data = reinterpret_cast<char*>(store.data());
  const uint8_t* src = frame.Data();
  const bool direct = img->bits_per_pixel == 32 && img->red_mask == 0xFF0000 &&
                      img->green_mask == 0xFF00 && img->blue_mask == 0xFF &&
                      img->byte_order == LSBFirst;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = src + size_t(y) * frame.Stride();
    if (direct) {
      std::memcpy(store.data() + size_t(y) * img->bytes_per_line, row, size_t(w) * 4);
      continue;
    }
    for (int x = 0; x < w; ++x) {
      uint32_t p;
      std::memcpy(&p, row + x * 4, 4);
      auto scale = [](uint32_t v, unsigned long mask) -> unsigned long {
        if (mask == 0) return 0;
        int shift = __builtin_ctzl(mask);
        unsigned long max = mask >> shift;
        return ((v * max + 127) / 255) << shift;
      };
      XPutPixel(img, x, y,
                scale((p >> 16) & 0xFF, img->red_mask) | scale((p >> 8) & 0xFF, img->green_mask) |
                    scale(p & 0xFF, img->blue_mask));
    }
  }
  return img;
}

void TX11Backend::PutImage(Window w, GC gc, XImage* img, int x, int y, int width, int height) {
  if (img == nullptr) return;
  x = std::max(x, 0);
  y = std::max(y, 0);
  width = std::min(width, img->width - x);
  height = std::min(height, img->height - y);
  if (width <= 0 || height <= 0) return;
  XPutImage(Dpy, w, gc, img, x, y, x, y, width, height);
}

void TX11Backend::KeepAbove() {
  Window rootRet, parent, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(Dpy, Root, &rootRet, &parent, &children, &n)) return;
  auto ours = [&](Window w) -> TX11Window* {
    for (TX11Window* x : Windows)
      if (x->Win() == w && x->TopMost() && x->Mapped()) return x;
    return nullptr;
  };
  // Children come bottom to top. Our stay-on-top windows must have only each other above them.
  std::vector<TX11Window*> order;
  bool foreignAbove = false;
  for (unsigned i = 0; i < n; ++i) {
    if (TX11Window* x = ours(children[i])) {
      order.push_back(x);
    } else if (!order.empty()) {
      XWindowAttributes wa;
      if (XGetWindowAttributes(Dpy, children[i], &wa) && wa.map_state == IsViewable)
        foreignAbove = true;
    }
  }
  if (children != nullptr) XFree(children);
  if (!foreignAbove) return;
  for (TX11Window* x : order) XRaiseWindow(Dpy, x->Win());
  Flush();
}

bool TX11Backend::TaskbarRect(TRect& r) {
  // The dock windows (panels) of the desktop: from the window manager's client list when there
  // is one, else from the top two levels of the window tree.
  std::vector<Window> candidates;
  Atom type;
  int format;
  unsigned long n = 0, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(Dpy, Root, A.NET_CLIENT_LIST, 0, 4096, False, XA_WINDOW, &type, &format,
                         &n, &after, &data) == Success &&
      data != nullptr) {
    auto* w = reinterpret_cast<Window*>(data);
    candidates.assign(w, w + n);
  }
  if (data != nullptr) XFree(data);
  Window rootRet, parent, *children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(Dpy, Root, &rootRet, &parent, &children, &count)) {
    for (unsigned i = 0; i < count; ++i) {
      candidates.push_back(children[i]);
      Window r2, p2, *sub = nullptr;
      unsigned int subCount = 0;
      if (XQueryTree(Dpy, children[i], &r2, &p2, &sub, &subCount)) {
        candidates.insert(candidates.end(), sub, sub + subCount);
        if (sub != nullptr) XFree(sub);
      }
    }
    if (children != nullptr) XFree(children);
  }
  bool found = false;
  long bestArea = -1;
  for (Window w : candidates) {
    if (std::any_of(Windows.begin(), Windows.end(), [&](TX11Window* x) { return x->Win() == w; }))
      continue;
    data = nullptr;
    bool dock = false;
    if (XGetWindowProperty(Dpy, w, A.NET_WM_WINDOW_TYPE, 0, 16, False, XA_ATOM, &type, &format, &n,
                           &after, &data) == Success &&
        data != nullptr) {
      auto* atoms = reinterpret_cast<Atom*>(data);
      dock = std::find(atoms, atoms + n, A.NET_WM_WINDOW_TYPE_DOCK) != atoms + n;
    }
    if (data != nullptr) XFree(data);
    if (!dock) continue;
    XWindowAttributes wa;
    if (!XGetWindowAttributes(Dpy, w, &wa) || wa.map_state != IsViewable) continue;
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(Dpy, w, Root, 0, 0, &x, &y, &child);
    long area = long(wa.width) * wa.height;
    if (area > bestArea) {
      bestArea = area;
      r = {x, y, x + wa.width, y + wa.height};
      found = true;
    }
  }
  Flush();
  return found;
}

std::unique_ptr<TBackendWindow> TX11Backend::CreateWindow(IWindowEvents& events,
                                                          const TWindowDesc& desc) {
  return std::make_unique<TX11Window>(*this, events, desc);
}

bool TX11Backend::ShowModalMessage(const String& text) {
  // The text in lines, a button beneath; Return, Escape, the button or closing dismisses it.
  std::vector<String> lines;
  std::istringstream in(text);
  for (String l; std::getline(in, l);) lines.push_back(l);
  if (lines.empty()) lines.push_back("");
  TCanvas measure;
  measure.Font()->Name = "Sans";
  measure.Font()->Size = 10;
  int32_t lineH = measure.TextHeight("Ag") + 2, textW = 0;
  for (const String& l : lines) textW = std::max(textW, measure.TextWidth(l));
  const int32_t w = std::clamp(textW + 48, 240, 1200);
  const int32_t h = 24 + lineH * int32_t(lines.size()) + 60;
  const TRect button{w / 2 - 40, h - 44, w / 2 + 40, h - 16};
  TBitmap img(w, h);
  img.Clear(clBtnFace);
  TCanvas* c = img.Canvas();
  c->Font()->Name = "Sans";
  c->Font()->Size = 10;
  c->SetBkMode(TRANSPARENT);
  for (size_t i = 0; i < lines.size(); ++i) c->TextOut(24, 20 + int32_t(i) * lineH, lines[i]);
  c->Pen()->Color = RGB(0, 120, 215);
  c->Brush()->Color = RGB(225, 225, 225);
  c->Rectangle(button);
  c->TextOut(button.Left + (button.Width() - c->TextWidth("OK")) / 2,
             button.Top + (button.Height() - c->TextHeight("OK")) / 2, "OK");

  XSetWindowAttributes wa{};
  wa.event_mask = ExposureMask | ButtonPressMask | KeyPressMask | StructureNotifyMask;
  TPoint s = ScreenSize();
  Window win = XCreateWindow(Dpy, Root, (s.X - w) / 2, (s.Y - h) / 2, w, h, 0, Depth, InputOutput,
                             Vis, CWEventMask, &wa);
  char* progName = const_cast<char*>("Message");
  XStoreName(Dpy, win, progName);
  XSetWMProtocols(Dpy, win, &A.WM_DELETE_WINDOW, 1);
  XChangeProperty(Dpy, win, A.NET_WM_WINDOW_TYPE, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&A.NET_WM_WINDOW_TYPE_DIALOG), 1);
  SetWmState(win, {A.NET_WM_STATE_MODAL, A.NET_WM_STATE_ABOVE});
  GC gc = XCreateGC(Dpy, win, 0, nullptr);
  std::vector<uint8_t> store;
  XImage* image = MakeImage(img, store);
  bool done = false;
  Handlers[win] = [&](XEvent& e) {
    if (e.type == Expose) {
      PutImage(win, gc, image, e.xexpose.x, e.xexpose.y, e.xexpose.width, e.xexpose.height);
    } else if (e.type == ButtonPress) {
      int x = e.xbutton.x, y = e.xbutton.y;
      if (x >= button.Left && x < button.Right && y >= button.Top && y < button.Bottom) done = true;
    } else if (e.type == KeyPress) {
      KeySym k = XLookupKeysym(&e.xkey, 0);
      if (k == XK_Return || k == XK_Escape || k == XK_space || k == XK_KP_Enter) done = true;
    } else if (e.type == ClientMessage && Atom(e.xclient.data.l[0]) == A.WM_DELETE_WINDOW) {
      done = true;
    } else if (e.type == DestroyNotify) {
      done = true;
    }
  };
  XMapRaised(Dpy, win);
  Flush();
  while (!done) Application->HandleMessage(std::chrono::milliseconds(200));
  Handlers.erase(win);
  image->data = nullptr;  // owned by `store`
  XDestroyImage(image);
  XFreeGC(Dpy, gc);
  XDestroyWindow(Dpy, win);
  Flush();
  return true;
}

// ---------------------------------------------------------------------------------------------

TX11Window::TX11Window(TX11Backend& b, IWindowEvents& events, const TWindowDesc& desc)
    : B(b), FEvents(events), FDesc(desc) {
  Display* d = B.Dpy;
  const TCreateParams& params = FDesc.Params;
  FBounds = {params.X, params.Y, params.X + params.Width, params.Y + params.Height};
  XSetWindowAttributes wa{};
  wa.event_mask = ExposureMask | VisibilityChangeMask | StructureNotifyMask | FocusChangeMask |
                  ButtonPressMask | ButtonReleaseMask | Button1MotionMask | KeyPressMask;
  wa.background_pixmap = None;
  FWin = XCreateWindow(d, B.Root, params.X, params.Y, std::max(params.Width, 1),
                       std::max(params.Height, 1), 0, B.Depth, InputOutput, B.Vis,
                       CWEventMask | CWBackPixmap, &wa);
  FGc = XCreateGC(d, FWin, 0, nullptr);

  XClassHint cls;
  cls.res_name = FDesc.InstanceName.data();
  cls.res_class = FDesc.Params.WinClassName.data();
  XSetClassHint(d, FWin, &cls);
  XSetWMProtocols(d, FWin, &B.A.WM_DELETE_WINDOW, 1);
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = (params.ExStyle & WS_EX_NOACTIVATE) ? False : True;
  XSetWMHints(d, FWin, &hints);
  long pid = getpid();
  XChangeProperty(d, FWin, B.A.NET_WM_PID, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&pid), 1);
  Atom type = (params.ExStyle & WS_EX_TOOLWINDOW) ? B.A.NET_WM_WINDOW_TYPE_UTILITY
                                                  : B.A.NET_WM_WINDOW_TYPE_NORMAL;
  XChangeProperty(d, FWin, B.A.NET_WM_WINDOW_TYPE, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&type), 1);
  if (FDesc.Borderless) {
    // flags: decorations; decorations: none.
    long motif[5] = {2, 0, 0, 0, 0};
    XChangeProperty(d, FWin, B.A.MOTIF_WM_HINTS, B.A.MOTIF_WM_HINTS, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(motif), 5);
  }
  // An owned window belongs to its owner's window; the desktop as owner means none.
  if (auto* ow = dynamic_cast<TX11Window*>(FDesc.Owner)) XSetTransientForHint(d, FWin, ow->Win());
  SetCaption(params.Caption);
  SetBounds(FBounds);
  UpdateState();
  B.Windows.push_back(this);
  B.Handlers[FWin] = [this](XEvent& e) { Handle(e); };
  B.Flush();
}

TX11Window::~TX11Window() {
  B.Handlers.erase(FWin);
  B.Windows.erase(std::remove(B.Windows.begin(), B.Windows.end(), this), B.Windows.end());
  if (FImage != nullptr) {
    FImage->data = nullptr;  // owned by FPixels
    XDestroyImage(FImage);
  }
  XFreeGC(B.Dpy, FGc);
  XDestroyWindow(B.Dpy, FWin);
  B.Flush();
}

void TX11Window::UpdateState() {
  std::vector<Atom> states;
  if (FTopMost) states.push_back(B.A.NET_WM_STATE_ABOVE);
  if ((FDesc.Params.ExStyle & WS_EX_TOOLWINDOW) && !(FDesc.Params.ExStyle & WS_EX_APPWINDOW))
    states.push_back(B.A.NET_WM_STATE_SKIP_TASKBAR);
  B.SetWmState(FWin, states);
}

void TX11Window::SetBounds(const TRect& r) {
  FBounds = r;
  const int w = std::max(r.Width(), 1), h = std::max(r.Height(), 1);
  XSizeHints sh{};
  sh.flags = USPosition | PPosition | USSize | PSize;
  sh.x = r.Left;
  sh.y = r.Top;
  sh.width = w;
  sh.height = h;
  if (!FDesc.Sizeable) {
    sh.flags |= PMinSize | PMaxSize;
    sh.min_width = sh.max_width = w;
    sh.min_height = sh.max_height = h;
  }
  XSetWMNormalHints(B.Dpy, FWin, &sh);
  XMoveResizeWindow(B.Dpy, FWin, r.Left, r.Top, w, h);
  B.Flush();
}

void TX11Window::SetVisible(bool visible) {
  if (visible == FMapped) return;
  FMapped = visible;
  if (visible) {
    if (FTopMost || (FDesc.Params.ExStyle & WS_EX_NOACTIVATE)) {
      // Shown on top by code, not by the user: the window manager should not move the focus.
      long zero = 0;
      XChangeProperty(B.Dpy, FWin, B.A.NET_WM_USER_TIME, XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&zero), 1);
    }
    UpdateState();
    XMapRaised(B.Dpy, FWin);
    // Without a window manager the position given at creation is final; keep it current.
    XMoveWindow(B.Dpy, FWin, FBounds.Left, FBounds.Top);
  } else {
    XWithdrawWindow(B.Dpy, FWin, B.ScreenNo);
    FActive = false;
  }
  B.Flush();
}

void TX11Window::SetCaption(const String& caption) {
  XChangeProperty(B.Dpy, FWin, B.A.NET_WM_NAME, B.A.UTF8_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(caption.data()),
                  static_cast<int>(caption.size()));
  XStoreName(B.Dpy, FWin, caption.c_str());
  B.Flush();
}

void TX11Window::SetIcon(const TBitmap& icon) {
  if (icon.Empty()) return;
  std::vector<unsigned long> data;
  data.reserve(2 + size_t(icon.Width()) * icon.Height());
  data.push_back(icon.Width());
  data.push_back(icon.Height());
  for (int32_t y = 0; y < icon.Height(); ++y) {
    for (int32_t x = 0; x < icon.Width(); ++x) {
      TColor c = icon.Pixel(x, y);
      data.push_back((unsigned long)icon.Alpha(x, y) << 24 | GetRValue(c) << 16 |
                     GetGValue(c) << 8 | GetBValue(c));
    }
  }
  XChangeProperty(B.Dpy, FWin, B.A.NET_WM_ICON, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(data.data()), static_cast<int>(data.size()));
  B.Flush();
}

void TX11Window::UpdateShape(const TBitmap& frame, bool keyOn, TColor key) {
  if (!B.HasShape) return;
  if (!keyOn) {
    if (FShaped) XShapeCombineMask(B.Dpy, FWin, ShapeBounding, 0, 0, None, ShapeSet);
    FShaped = false;
    FShape.clear();
    return;
  }
  // Runs of non-key pixels, row by row (already in the y-x banded order). The frame is opaque,
  // so a pixel is the key exactly when its stored word is the key's.
  const uint32_t keyWord =
      0xFF000000u | uint32_t(GetRValue(key)) << 16 | uint32_t(GetGValue(key)) << 8 | GetBValue(key);
  const uint8_t* data = frame.Data();
  std::vector<XRectangle> rects;
  for (int32_t y = 0; y < frame.Height(); ++y) {
    const uint8_t* row = data + size_t(y) * frame.Stride();
    auto word = [row](int32_t x) {
      uint32_t p;
      std::memcpy(&p, row + size_t(x) * 4, 4);
      return p;
    };
    int32_t x = 0;
    while (x < frame.Width()) {
      while (x < frame.Width() && word(x) == keyWord) ++x;
      int32_t start = x;
      while (x < frame.Width() && word(x) != keyWord) ++x;
      if (x > start)
        rects.push_back(XRectangle{short(start), short(y), (unsigned short)(x - start), 1});
    }
  }
  auto same = [](const XRectangle& a, const XRectangle& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
  };
  if (FShaped && rects.size() == FShape.size() &&
      std::equal(rects.begin(), rects.end(), FShape.begin(), same))
    return;
  XShapeCombineRectangles(B.Dpy, FWin, ShapeBounding, 0, 0, rects.data(),
                          static_cast<int>(rects.size()), ShapeSet, YXBanded);
  FShape = std::move(rects);
  FShaped = true;
}

void TX11Window::Present(const TBitmap& frame, bool keyOn, TColor key) {
  if (FImage != nullptr) {
    FImage->data = nullptr;
    XDestroyImage(FImage);
    FImage = nullptr;
  }
  if (frame.Empty()) return;
  FImage = B.MakeImage(frame, FPixels);
  UpdateShape(frame, keyOn, key);
  if (FMapped) B.PutImage(FWin, FGc, FImage, 0, 0, frame.Width(), frame.Height());
  B.Flush();
}

void TX11Window::SetAlpha(bool on, uint8_t value) {
  if (on) {
    unsigned long opacity = 0x01010101ul * value;
    XChangeProperty(B.Dpy, FWin, B.A.NET_WM_WINDOW_OPACITY, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&opacity), 1);
  } else {
    XDeleteProperty(B.Dpy, FWin, B.A.NET_WM_WINDOW_OPACITY);
  }
  B.Flush();
}

void TX11Window::SetTopMost(bool onTop, bool activate) {
  bool changed = onTop != FTopMost;
  FTopMost = onTop;
  if (changed) {
    if (FMapped && B.WindowManagerRunning()) {
      // _NET_WM_STATE: 1 add, 0 remove; source 1: an application.
      B.SendWmMessage(FWin, B.A.NET_WM_STATE, onTop ? 1 : 0, long(B.A.NET_WM_STATE_ABOVE), 0, 1);
    } else {
      UpdateState();
    }
  }
  if (onTop && FMapped) XRaiseWindow(B.Dpy, FWin);
  if (activate) Activate();
  B.Flush();
}

void TX11Window::Activate() {
  if (!FMapped) return;
  if (B.WindowManagerRunning()) {
    B.SendWmMessage(FWin, B.A.NET_ACTIVE_WINDOW, 1, CurrentTime);
  } else {
    XSetInputFocus(B.Dpy, FWin, RevertToParent, CurrentTime);
  }
  FActive = true;
  B.Flush();
}

void TX11Window::Handle(XEvent& e) {
  switch (e.type) {
    case Expose:
      B.PutImage(FWin, FGc, FImage, e.xexpose.x, e.xexpose.y, e.xexpose.width, e.xexpose.height);
      break;
    case VisibilityNotify:
      if (FTopMost && e.xvisibility.state != VisibilityUnobscured && !B.WindowManagerRunning())
        B.KeepAbove();
      break;
    case ButtonPress:
      if (e.xbutton.button == Button1)
        FEvents.MouseInput(IWindowEvents::TMouseAction::Down, e.xbutton.x, e.xbutton.y);
      break;
    case MotionNotify:
      FEvents.MouseInput(IWindowEvents::TMouseAction::Move, e.xmotion.x, e.xmotion.y);
      break;
    case ButtonRelease:
      if (e.xbutton.button == Button1)
        FEvents.MouseInput(IWindowEvents::TMouseAction::Up, e.xbutton.x, e.xbutton.y);
      break;
    case FocusIn:
      FActive = true;
      break;
    case FocusOut:
      FActive = false;
      break;
    case ClientMessage:
      if (e.xclient.message_type == B.A.WM_PROTOCOLS &&
          Atom(e.xclient.data.l[0]) == B.A.WM_DELETE_WINDOW)
        FEvents.CloseRequested();
      break;
    default:
      break;
  }
}

TWindowBackend* X11Backend() {
  static TWindowBackend* backend = []() -> TWindowBackend* {
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) return nullptr;
    return new TX11Backend(dpy);  // lives as long as the process
  }();
  return backend;
}
