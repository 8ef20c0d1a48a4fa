// What the X11 back end tells of the desktop around its windows: the screen's size, the
// taskbar, and stay-on-top windows kept above the others without a window manager.
#include <qx/framework/ui/X11Windows.h>

#include <X11/extensions/Xrandr.h>

#include <algorithm>

TRect TX11Backend::PrimaryMonitor() {
  // While the server is away, its last known monitor.
  if (Broken()) return FMonitor;
  TRect r{0, 0, DisplayWidth(Dpy, ScreenNo), DisplayHeight(Dpy, ScreenNo)};
  int count = 0;
  if (XRRMonitorInfo* monitors = XRRGetMonitors(Dpy, Root, True, &count)) {
    XRRMonitorInfo* chosen = count > 0 ? &monitors[0] : nullptr;
    for (int i = 0; i < count; ++i)
      if (monitors[i].primary) chosen = &monitors[i];
    if (chosen != nullptr && chosen->width > 0 && chosen->height > 0)
      r = {chosen->x, chosen->y, chosen->x + chosen->width, chosen->y + chosen->height};
    XRRFreeMonitors(monitors);
  }
  FMonitor = r;
  return r;
}

TPoint TX11Backend::ScreenSize() {
  const TRect r = PrimaryMonitor();
  FOrigin = {r.Left, r.Top};
  FOriginKnown = true;
  return {r.Width(), r.Height()};
}

TPoint TX11Backend::Origin() {
  if (!FOriginKnown) ScreenSize();
  return FOrigin;
}

void TX11Backend::KeepAbove() {
  if (Broken()) return;
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
  {
    // Another client's window may go between the listing and the look at it.
    TExpectXErrors gone(*this, {BadWindow, BadDrawable});
    for (unsigned i = 0; i < n; ++i) {
      if (TX11Window* x = ours(children[i])) {
        order.push_back(x);
      } else if (!order.empty()) {
        XWindowAttributes wa;
        if (XGetWindowAttributes(Dpy, children[i], &wa) && wa.map_state == IsViewable)
          foreignAbove = true;
      }
    }
  }
  if (children != nullptr) XFree(children);
  if (!foreignAbove) return;
  for (TX11Window* x : order) XRaiseWindow(Dpy, x->Win());
  Flush();
}

bool TX11Backend::TaskbarRect(TRect& r) {
  if (Broken()) return false;
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
  // Windows of other clients may go between the listing and the questions about them; the end
  // of the scope serves the events read meanwhile.
  TExpectXErrors gone(*this, {BadWindow, BadDrawable});
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
  if (found) {
    const TPoint o = Origin();
    r = {r.Left - o.X, r.Top - o.Y, r.Right - o.X, r.Bottom - o.Y};
  }
  return found;
}
