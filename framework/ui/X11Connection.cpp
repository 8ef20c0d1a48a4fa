#include <qx/framework/ui/X11Connection.h>

#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <sys/socket.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <qx/framework/app/Application.h>

namespace {

// The error codes expected by the innermost TExpectXErrors, empty outside any. Only the thread
// of the loop talks to the display.
std::vector<unsigned char>& ExpectedErrors() {
  static std::vector<unsigned char> codes;
  return codes;
}

int ReportXError(Display*, XErrorEvent* e) {
  const auto& expected = ExpectedErrors();
  if (std::find(expected.begin(), expected.end(), e->error_code) != expected.end()) return 0;
  std::fprintf(stderr, "X error: request %u, error %u\n", unsigned(e->request_code),
               unsigned(e->error_code));
  return 0;
}

// Said once for each connection lost, in place of Xlib's own words, which end the process.
int ReportServerGone(Display* dpy) {
  std::fprintf(
      stderr,
      "lost the X server %s (gone, or not answering); windows are shown again when it is back\n",
      DisplayString(dpy));
  return 0;
}

// How often the server is asked whether it answers, and how long it has to answer.
constexpr auto kStallAsk = std::chrono::milliseconds(500);
constexpr auto kStallLimit = std::chrono::milliseconds(1000);

}  // namespace

struct TX11Connection::TStallWatch {
  std::mutex M;
  std::condition_variable Wake;
  int Fd = -1;  // the display's connection, to shut; -1 once it is not to be touched
  bool Stop = false;
};

void TX11Connection::WatchForStalls() {
  auto w = std::make_shared<TStallWatch>();
  w->Fd = ConnectionNumber(Dpy);
  FStallWatch = w;
  std::thread([w, name = FDisplayName] {
    xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
    const int fd = xcb_get_file_descriptor(c);
    while (xcb_connection_has_error(c) == 0) {
      {
        std::unique_lock lock(w->M);
        if (w->Wake.wait_for(lock, kStallAsk, [&] { return w->Stop; })) break;
      }
      const unsigned int ask = xcb_get_input_focus(c).sequence;
      xcb_flush(c);
      const auto until = std::chrono::steady_clock::now() + kStallLimit;
      bool answered = false;
      while (!answered && xcb_connection_has_error(c) == 0) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(c, ask, &reply, &error) != 0) {
          std::free(reply);
          std::free(error);
          answered = true;
          break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, int(std::min<long>(left.count(), 100)));
      }
      if (answered) continue;
      if (xcb_connection_has_error(c) == 0) {
        // Stopped, not gone: the display's own connection is shut, and the loop sees it go.
        std::lock_guard lock(w->M);
        if (w->Fd >= 0) shutdown(w->Fd, SHUT_RDWR);
        w->Fd = -1;
      }
      break;
    }
    xcb_disconnect(c);
  }).detach();
}

void TX11Connection::StopStallWatch() {
  if (!FStallWatch) return;
  {
    std::lock_guard lock(FStallWatch->M);
    FStallWatch->Stop = true;
    FStallWatch->Fd = -1;
  }
  FStallWatch->Wake.notify_all();
  FStallWatch.reset();
}

TExpectXErrors::TExpectXErrors(TX11Connection& x, std::initializer_list<unsigned char> codes)
    : FX(x), FOuter(ExpectedErrors()) {
  XSync(FX.Dpy, False);
  ExpectedErrors().assign(codes);
}

TExpectXErrors::~TExpectXErrors() {
  XSync(FX.Dpy, False);
  ExpectedErrors() = std::move(FOuter);
  FX.Flush();
}

TX11Connection::TX11Connection(Display* dpy) {
  XSetErrorHandler(ReportXError);
  XSetIOErrorHandler(ReportServerGone);
  Attach(dpy);
}

void TX11Connection::Attach(Display* dpy) {
  Dpy = dpy;
  FDisplayName = DisplayString(dpy);
  ScreenNo = DefaultScreen(dpy);
  Root = RootWindow(dpy, ScreenNo);
  Vis = DefaultVisual(dpy, ScreenNo);
  Depth = DefaultDepth(dpy, ScreenNo);
  FBroken = false;
  FDrainQueued = false;
  FArgbVisual = nullptr;
  FArgbColormap = 0;
  FArgbLooked = false;
  XWayland = false;
  XSetIOErrorExitHandler(dpy, ServerGone, this);
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
  A.NET_WM_CM = atom(("_NET_WM_CM_S" + std::to_string(ScreenNo)).c_str());
  // XWayland names its monitors XWAYLAND0, XWAYLAND1, ...
  int count = 0;
  if (XRRMonitorInfo* monitors = XRRGetMonitors(Dpy, Root, True, &count)) {
    for (int i = 0; i < count && !XWayland; ++i) {
      if (char* name = XGetAtomName(Dpy, monitors[i].name)) {
        XWayland = std::strncmp(name, "XWAYLAND", 8) == 0;
        XFree(name);
      }
    }
    XRRFreeMonitors(monitors);
  }
  // A modal message waits on this connection's events.
  FWatch = Application->AddWatch(
      ConnectionNumber(Dpy), [this] { Drain(); }, TRunsIn::AnyWait);
  WatchForStalls();
}

void TX11Connection::ServerGone(Display*, void* self) {
  // Reached from inside whichever Xlib call met the loss; returning lets that call return.
  auto* c = static_cast<TX11Connection*>(self);
  if (c->FBroken) return;
  c->FBroken = true;
  Application->RemoveWatch(c->FWatch);
  c->FWatch = -1;
  Application->Queue([c] {
    if (c->OnLost) c->OnLost();
  });
}

void TX11Connection::Reattach(Display* dpy) {
  if (FWatch >= 0) Application->RemoveWatch(FWatch);
  FWatch = -1;
  Handlers.clear();
  // Its descriptor is not shut once closed: the number may be another file's by then.
  StopStallWatch();
  XCloseDisplay(Dpy);
  Attach(dpy);
}

void TX11Connection::Flush() {
  XFlush(Dpy);
  if (XEventsQueued(Dpy, QueuedAlready) > 0 && !FDrainQueued) {
    FDrainQueued = true;
    Application->Queue([this] { Drain(); });
  }
}

void TX11Connection::Drain() {
  FDrainQueued = false;
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

bool TX11Connection::WindowManagerRunning() {
  if (FBroken) return false;
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  bool running = false;
  if (XGetWindowProperty(Dpy, Root, A.NET_SUPPORTING_WM_CHECK, 0, 1, False, XA_WINDOW, &type,
                         &format, &n, &after, &data) == Success &&
      data != nullptr && n == 1) {
    Window check = *reinterpret_cast<Window*>(data);
    // A window manager that has gone leaves its check window's id behind.
    TExpectXErrors gone(*this, {BadWindow, BadDrawable});
    XWindowAttributes wa;
    running = check != 0 && XGetWindowAttributes(Dpy, check, &wa) != 0;
  }
  if (data != nullptr) XFree(data);
  return running;
}

bool TX11Connection::Compositing() {
  return XWayland || XGetSelectionOwner(Dpy, A.NET_WM_CM) != None;
}

bool TX11Connection::ArgbVisual(Visual*& visual, Colormap& colormap) {
  if (!FArgbLooked) {
    FArgbLooked = true;
    XVisualInfo info;
    if (XMatchVisualInfo(Dpy, ScreenNo, 32, TrueColor, &info) && info.red_mask == 0xFF0000 &&
        info.green_mask == 0xFF00 && info.blue_mask == 0xFF) {
      FArgbVisual = info.visual;
      FArgbColormap = XCreateColormap(Dpy, Root, FArgbVisual, AllocNone);
    }
  }
  visual = FArgbVisual;
  colormap = FArgbColormap;
  return FArgbVisual != nullptr;
}

void TX11Connection::SendWmMessage(Window w, Atom type, long a0, long a1, long a2, long a3) {
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

void TX11Connection::SetWmState(Window w, const std::vector<Atom>& states) {
  if (states.empty()) {
    XDeleteProperty(Dpy, w, A.NET_WM_STATE);
    return;
  }
  XChangeProperty(Dpy, w, A.NET_WM_STATE, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(states.data()),
                  static_cast<int>(states.size()));
}

XImage* TX11Connection::MakeImage(const TBitmap& frame, std::vector<uint8_t>& store) {
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

void TX11Connection::PutImage(Window w, GC gc, XImage* img, int x, int y, int width, int height) {
  if (img == nullptr) return;
  x = std::max(x, 0);
  y = std::max(y, 0);
  width = std::min(width, img->width - x);
  height = std::min(height, img->height - y);
  if (width <= 0 || height <= 0) return;
  XPutImage(Dpy, w, gc, img, x, y, x, y, width, height);
}

void TX11Connection::FreeImage(XImage* img) {
  if (img == nullptr) return;
  img->data = nullptr;  // owned by the store it was made with
  XDestroyImage(img);
}
