// The modal window of ShowMessage on X: a dialog above the others showing the picture it is
// given, served by the loop until it is dismissed.
#include <X11/keysym.h>

#include <memory>

#include <qx/framework/app/Application.h>
#include <qx/framework/core/ScopeExit.h>
#include <qx/framework/ui/X11Windows.h>

namespace {

// What the window's event handler works on. Held by the handler too, so that it never refers
// to a frame that has returned.
struct TModalWindow {
  Window Win = 0;
  GC Gc = nullptr;
  std::vector<uint8_t> Pixels;
  XImage* Image = nullptr;
  TRect Button;
  bool Done = false;
};

}  // namespace

void TX11Backend::RunModal(const String& title, const TBitmap& image, const TRect& button) {
  auto modal = std::make_shared<TModalWindow>();
  modal->Button = button;
  XSetWindowAttributes wa{};
  wa.event_mask = ExposureMask | ButtonPressMask | KeyPressMask | StructureNotifyMask;
  const TPoint s = ScreenSize();
  const int w = image.Width(), h = image.Height();
  modal->Win = XCreateWindow(Dpy, Root, (s.X - w) / 2, (s.Y - h) / 2, w, h, 0, Depth, InputOutput,
                             Vis, CWEventMask, &wa);
  XStoreName(Dpy, modal->Win, title.c_str());
  XSetWMProtocols(Dpy, modal->Win, &A.WM_DELETE_WINDOW, 1);
  XChangeProperty(Dpy, modal->Win, A.NET_WM_WINDOW_TYPE, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&A.NET_WM_WINDOW_TYPE_DIALOG), 1);
  SetWmState(modal->Win, {A.NET_WM_STATE_MODAL, A.NET_WM_STATE_ABOVE});
  modal->Gc = XCreateGC(Dpy, modal->Win, 0, nullptr);
  modal->Image = MakeImage(image, modal->Pixels);
  // The connection lives as long as the process; the window's state as long as the handler.
  Handlers[modal->Win] = [this, modal](XEvent& e) {
    const TRect& b = modal->Button;
    if (e.type == Expose) {
      PutImage(modal->Win, modal->Gc, modal->Image, e.xexpose.x, e.xexpose.y, e.xexpose.width,
               e.xexpose.height);
    } else if (e.type == ButtonPress) {
      int x = e.xbutton.x, y = e.xbutton.y;
      if (x >= b.Left && x < b.Right && y >= b.Top && y < b.Bottom) modal->Done = true;
    } else if (e.type == KeyPress) {
      KeySym k = XLookupKeysym(&e.xkey, 0);
      if (k == XK_Return || k == XK_Escape || k == XK_space || k == XK_KP_Enter) modal->Done = true;
    } else if (e.type == ClientMessage && Atom(e.xclient.data.l[0]) == A.WM_DELETE_WINDOW) {
      modal->Done = true;
    } else if (e.type == DestroyNotify) {
      modal->Done = true;
    }
  };
  // Gone with the window however the wait ends; a server that goes away ends it too, and the
  // window is gone with the server.
  TScopeExit close([this, &modal, dpy = Dpy] {
    FreeImage(modal->Image);
    if (Dpy != dpy) return;
    Handlers.erase(modal->Win);
    XFreeGC(Dpy, modal->Gc);
    // Another client may have destroyed the window already (that ended the wait).
    TExpectXErrors gone(*this, {BadWindow});
    XDestroyWindow(Dpy, modal->Win);
  });
  XMapRaised(Dpy, modal->Win);
  Flush();
  // A nested wait: only this connection is served meanwhile (events Xlib has read already are
  // taken here, the rest when the connection is readable); the application's timers, signals
  // and posted messages wait until the message is closed.
  TApplication::TNestedWait nested;
  while (!modal->Done && !Broken()) {
    Drain();
    if (!modal->Done && !Broken()) Application->HandleMessage(std::chrono::milliseconds(200));
  }
}
