#include <qx/framework/ui/X11Windows.h>

#include <X11/extensions/shape.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

TX11Window::TX11Window(TX11Backend& b, IWindowEvents& events, const TWindowDesc& desc)
    : B(b), FEvents(events), FDesc(desc) {
  const TCreateParams& params = FDesc.Params;
  FBounds = {params.X, params.Y, params.X + params.Width, params.Y + params.Height};
  FCaption = params.Caption;
  B.Windows.push_back(this);
  // Made on the server when it is back, should it be away now.
  if (!B.Broken()) Create();
}

void TX11Window::Create() {
  Display* d = B.Dpy;
  const TCreateParams& params = FDesc.Params;
  XSetWindowAttributes wa{};
  wa.event_mask = ExposureMask | VisibilityChangeMask | StructureNotifyMask | FocusChangeMask |
                  ButtonPressMask | ButtonReleaseMask | Button1MotionMask | KeyPressMask;
  wa.background_pixmap = None;
  unsigned long mask = CWEventMask | CWBackPixmap;
  const bool osd = FDesc.Borderless && (params.ExStyle & WS_EX_NOACTIVATE);
  Visual* visual = B.Vis;
  int depth = B.Depth;
  Colormap colormap = 0;
  FArgb = false;
  FOverride = false;
  // Where a compositor blends windows, a fading window is drawn with its alpha in its pixels.
  if (osd && B.Compositing() && B.ArgbVisual(visual, colormap)) {
    FArgb = true;
    depth = 32;
    wa.colormap = colormap;
    wa.border_pixel = 0;
    wa.background_pixel = 0;
    mask = CWEventMask | CWBackPixel | CWBorderPixel | CWColormap;
  }
  if (osd && B.XWayland) {
    FOverride = true;
    wa.override_redirect = True;
    mask |= CWOverrideRedirect;
  }
  const TPoint o = B.Origin();
  FWin =
      XCreateWindow(d, B.Root, FBounds.Left + o.X, FBounds.Top + o.Y, std::max(FBounds.Width(), 1),
                    std::max(FBounds.Height(), 1), 0, depth, InputOutput, visual, mask, &wa);
  FGc = XCreateGC(d, FWin, 0, nullptr);

  XClassHint cls;
  String resName = FDesc.InstanceName.empty() ? String("qx") : FDesc.InstanceName;
  cls.res_name = resName.data();
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
  if (auto* ow = dynamic_cast<TX11Window*>(FDesc.Owner); ow != nullptr && ow->Win() != 0)
    XSetTransientForHint(d, FWin, ow->Win());
  B.Handlers[FWin] = [this](XEvent& e) { Handle(e); };
  SetCaption(FCaption);
  SetBounds(FBounds);
  UpdateState();
}

void TX11Window::Forget() {
  if (FWin == 0) return;
  B.Handlers.erase(FWin);
  TX11Connection::FreeImage(FImage);
  FImage = nullptr;
  XFreeGC(B.Dpy, FGc);  // on a server that went away, only Xlib's own memory of it goes
  FGc = nullptr;
  FWin = 0;
  FShaped = false;
  FShape.clear();
  FActive = false;
}

void TX11Window::Recreate() {
  if (FWin != 0) return;
  Create();
  ApplyIcon();
  ApplyFrame();
  if (!FArgb) ApplyAlpha();
  if (FMapped) Map();
  B.Flush();
}

TX11Window::~TX11Window() {
  B.Windows.erase(std::remove(B.Windows.begin(), B.Windows.end(), this), B.Windows.end());
  const Window w = FWin;
  Forget();
  if (w == 0) return;
  XDestroyWindow(B.Dpy, w);
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
  FReplacements = 0;
  if (FWin == 0) return;
  const int w = std::max(r.Width(), 1), h = std::max(r.Height(), 1);
  const TPoint o = B.Origin();
  XSizeHints sh{};
  sh.flags = USPosition | PPosition | USSize | PSize;
  sh.x = r.Left + o.X;
  sh.y = r.Top + o.Y;
  sh.width = w;
  sh.height = h;
  if (!FDesc.Sizeable) {
    sh.flags |= PMinSize | PMaxSize;
    sh.min_width = sh.max_width = w;
    sh.min_height = sh.max_height = h;
  }
  XSetWMNormalHints(B.Dpy, FWin, &sh);
  XMoveResizeWindow(B.Dpy, FWin, r.Left + o.X, r.Top + o.Y, w, h);
  B.Flush();
}

void TX11Window::SetVisible(bool visible) {
  if (visible == FMapped) return;
  FMapped = visible;
  if (FWin == 0) {
    // Shown when the server is back.
    FActive = false;
    if (visible) B.ScheduleRetry();
    return;
  }
  if (visible) {
    Map();
  } else {
    XWithdrawWindow(B.Dpy, FWin, B.ScreenNo);
    FActive = false;
  }
  B.Flush();
}

void TX11Window::Map() {
  if (FTopMost || (FDesc.Params.ExStyle & WS_EX_NOACTIVATE)) {
    // Shown on top by code, not by the user: the window manager should not move the focus.
    long zero = 0;
    XChangeProperty(B.Dpy, FWin, B.A.NET_WM_USER_TIME, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&zero), 1);
  }
  UpdateState();
  FReplacements = 0;
  XMapRaised(B.Dpy, FWin);
  // Without a window manager the position given at creation is final; keep it current.
  const TPoint o = B.Origin();
  XMoveWindow(B.Dpy, FWin, FBounds.Left + o.X, FBounds.Top + o.Y);
}

void TX11Window::SetCaption(const String& caption) {
  if (&caption != &FCaption) FCaption = caption;
  if (FWin == 0) return;
  XChangeProperty(B.Dpy, FWin, B.A.NET_WM_NAME, B.A.UTF8_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(caption.data()),
                  static_cast<int>(caption.size()));
  XStoreName(B.Dpy, FWin, caption.c_str());
  B.Flush();
}

void TX11Window::SetIcon(const TBitmap& icon) {
  if (icon.Empty()) return;
  FIcon = icon;
  ApplyIcon();
}

void TX11Window::ApplyIcon() {
  if (FWin == 0 || FIcon.Empty()) return;
  const TBitmap& icon = FIcon;
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

void TX11Window::RenderArgb() {
  TX11Connection::FreeImage(FImage);
  FImage = nullptr;
  if (FFrame.empty()) return;
  Visual* visual;
  Colormap colormap;
  B.ArgbVisual(visual, colormap);
  FImage = XCreateImage(B.Dpy, visual, 32, ZPixmap, 0, nullptr, FFrameWidth, FFrameHeight, 32,
                        FFrameWidth * 4);
  if (FImage == nullptr) return;
  FPixels.resize(FFrame.size() * 4);
  FImage->data = reinterpret_cast<char*>(FPixels.data());
  const uint32_t a = FAlphaOn ? FAlpha : 255;
  auto scale = [a](uint32_t v) { return (v * a + 127) / 255; };
  const bool native = FImage->byte_order == LSBFirst;
  for (size_t i = 0; i < FFrame.size(); ++i) {
    const uint32_t p = FFrame[i];
    uint32_t q = 0;
    if (!(FKeyOn && p == FKeyWord))
      q = a << 24 | scale((p >> 16) & 0xFF) << 16 | scale((p >> 8) & 0xFF) << 8 | scale(p & 0xFF);
    if (native) {
      std::memcpy(FPixels.data() + i * 4, &q, 4);
    } else {
      XPutPixel(FImage, int(i % FFrameWidth), int(i / FFrameWidth), q);
    }
  }
}

void TX11Window::Present(const TBitmap& frame, bool keyOn, TColor key) {
  FLastFrame = frame;
  FLastKeyOn = keyOn;
  FLastKey = key;
  ApplyFrame();
}

void TX11Window::ApplyFrame() {
  if (FWin == 0) return;
  const TBitmap& frame = FLastFrame;
  TX11Connection::FreeImage(FImage);
  FImage = nullptr;
  if (frame.Empty()) return;
  if (FArgb) {
    FFrameWidth = frame.Width();
    FFrameHeight = frame.Height();
    FFrame.resize(size_t(FFrameWidth) * FFrameHeight);
    for (int32_t y = 0; y < FFrameHeight; ++y)
      std::memcpy(FFrame.data() + size_t(y) * FFrameWidth,
                  frame.Data() + size_t(y) * frame.Stride(), size_t(FFrameWidth) * 4);
    FKeyOn = FLastKeyOn;
    const TColor key = FLastKey;
    FKeyWord = 0xFF000000u | uint32_t(GetRValue(key)) << 16 | uint32_t(GetGValue(key)) << 8 |
               GetBValue(key);
    RenderArgb();
  } else {
    FImage = B.MakeImage(frame, FPixels);
  }
  UpdateShape(frame, FLastKeyOn, FLastKey);
  if (FMapped) B.PutImage(FWin, FGc, FImage, 0, 0, frame.Width(), frame.Height());
  B.Flush();
}

void TX11Window::SetAlpha(bool on, uint8_t value) {
  const bool same = on == FAlphaOn && value == FAlpha;
  FAlphaOn = on;
  FAlpha = value;
  if (FWin == 0 || (FArgb && same)) return;
  ApplyAlpha();
}

void TX11Window::ApplyAlpha() {
  if (FArgb) {
    RenderArgb();
    if (FMapped) B.PutImage(FWin, FGc, FImage, 0, 0, FFrameWidth, FFrameHeight);
  } else if (FAlphaOn) {
    unsigned long opacity = 0x01010101ul * FAlpha;
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
  if (FWin == 0) return;
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
  if (!FMapped || FWin == 0) return;
  if (B.WindowManagerRunning()) {
    B.SendWmMessage(FWin, B.A.NET_ACTIVE_WINDOW, 1, CurrentTime);
  } else {
    XSetInputFocus(B.Dpy, FWin, RevertToParent, CurrentTime);
  }
  FActive = true;
  B.Flush();
}

void TX11Window::KeepPlace() {
  // A manager that keeps moving it back wins after a few tries: no endless tug of war.
  if (!FMapped || FOverride || FReplacements >= 3 || !B.WindowManagerRunning()) return;
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(B.Dpy, FWin, B.Root, 0, 0, &x, &y, &child);
  const TPoint o = B.Origin();
  if (x == FBounds.Left + o.X && y == FBounds.Top + o.Y) return;
  ++FReplacements;
  XMoveWindow(B.Dpy, FWin, FBounds.Left + o.X, FBounds.Top + o.Y);
  B.Flush();
}

void TX11Window::Handle(XEvent& e) {
  switch (e.type) {
    case MapNotify:
    case ConfigureNotify:
      KeepPlace();
      break;
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
