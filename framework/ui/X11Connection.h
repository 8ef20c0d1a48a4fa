// The connection to the X display behind the X11 back end: the atoms it uses, the event pump
// served by the application's loop, and what every window needs of the connection (window
// manager messages and state, images). Included only by the X11 back end's files.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include <qx/framework/ui/Graphics.h>

struct TAtoms {
  Atom WM_PROTOCOLS, WM_DELETE_WINDOW, UTF8_STRING, NET_WM_NAME, NET_WM_STATE, NET_WM_STATE_ABOVE,
      NET_WM_STATE_SKIP_TASKBAR, NET_WM_STATE_MODAL, NET_WM_WINDOW_TYPE, NET_WM_WINDOW_TYPE_NORMAL,
      NET_WM_WINDOW_TYPE_UTILITY, NET_WM_WINDOW_TYPE_DOCK, NET_WM_WINDOW_TYPE_DIALOG,
      NET_WM_WINDOW_OPACITY, NET_WM_ICON, NET_WM_PID, NET_WM_USER_TIME, NET_CLIENT_LIST,
      NET_ACTIVE_WINDOW, NET_SUPPORTING_WM_CHECK, MOTIF_WM_HINTS, NET_WM_CM;
};

class TX11Connection {
 public:
  // Takes the display over; its events are served by the loop. Should the server go away, the
  // process goes on: the display answers nothing more (its calls return at once) until
  // Reattach gives a new one, and OnLost is told from the loop.
  explicit TX11Connection(Display* dpy);
  TX11Connection(const TX11Connection&) = delete;
  TX11Connection& operator=(const TX11Connection&) = delete;

  // Sends what is buffered, and makes sure events Xlib has already read are served too.
  void Flush();
  // Hands every pending event to the handler of its window.
  void Drain();
  bool WindowManagerRunning();
  // Whether what is drawn goes through a compositor, which blends windows drawn with per-pixel
  // alpha: a compositing manager owns _NET_WM_CM_S<screen>, or the server is XWayland.
  bool Compositing();
  // A 32-bit visual with alpha and a colormap for it; false when the screen has none.
  bool ArgbVisual(Visual*& visual, Colormap& colormap);
  void SendWmMessage(Window w, Atom type, long a0, long a1 = 0, long a2 = 0, long a3 = 0);
  void SetWmState(Window w, const std::vector<Atom>& states);
  // Puts the image into the window (the whole window when no rectangle is given).
  void PutImage(Window w, GC gc, XImage* img, int x, int y, int width, int height);
  // An image of the frame in the screen's format; its pixels live in `store`.
  XImage* MakeImage(const TBitmap& frame, std::vector<uint8_t>& store);
  // Frees an image made by MakeImage (not its store).
  static void FreeImage(XImage* img);
  bool Broken() const { return FBroken; }
  // The display name it was opened with, to look for the server again.
  const String& DisplayName() const { return FDisplayName; }
  // Leaves the display of a server that went away for a new one, and closes the old.
  void Reattach(Display* dpy);
  std::function<void()> OnLost;

  Display* Dpy = nullptr;
  int ScreenNo = 0;
  // The X server of a Wayland compositor, which places the windows it manages itself (floating
  // ones in the middle of the output) and composites every window.
  bool XWayland = false;
  Window Root = 0;
  Visual* Vis = nullptr;
  int Depth = 0;
  bool HasShape = false;
  TAtoms A{};
  // Event handlers by window; a handler may add or remove handlers.
  std::map<Window, std::function<void(XEvent&)>> Handlers;

 private:
  void Attach(Display* dpy);
  static void ServerGone(Display* dpy, void* self);
  // A server that stops answering would hold the loop in its next round trip, for as long as
  // it is stopped. A thread of its own asks it, on a connection of its own, whether it still
  // answers; when it does not for a while, the display's connection is shut, so that the loop
  // takes the server as gone and looks for it again.
  struct TStallWatch;
  std::shared_ptr<TStallWatch> FStallWatch;
  void WatchForStalls();
  void StopStallWatch();
  String FDisplayName;
  int FWatch = -1;
  bool FBroken = false;
  bool FDrainQueued = false;
  Visual* FArgbVisual = nullptr;
  Colormap FArgbColormap = 0;
  bool FArgbLooked = false;
};

// The X errors that the requests of one scope may meet for a reason known beforehand (a window
// of another client gone between finding it and asking about it); other X errors are reported on
// standard error. The requests sent before are synced first, so that their errors are judged
// outside the scope, and the scope's own at its end, so that theirs arrive within it; events read
// meanwhile are served as after Flush.
class TExpectXErrors {
 public:
  TExpectXErrors(TX11Connection& x, std::initializer_list<unsigned char> codes);
  ~TExpectXErrors();
  TExpectXErrors(const TExpectXErrors&) = delete;
  TExpectXErrors& operator=(const TExpectXErrors&) = delete;

 private:
  TX11Connection& FX;
  std::vector<unsigned char> FOuter;
};
