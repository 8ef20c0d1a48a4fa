// The overlay under a real window manager (openbox, started here, on scripts/with-xvfb at
// 1280x720): placed exactly on the strip's figures beside a dock at any edge, on top, with its
// own entry in the manager's client list, never given the focus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/frmVolumeU.h>
#include "tests/framework/test_app_wait.h"
#include "tests/master_volume/overlay_step.h"

// Xlib's `Screen` type would clash with the framework's Screen object.
#define Screen XlibScreen
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Screen

namespace {

// The window manager and a second client on the display that plays the desktop's dock.
class OpenboxDesktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    D = XOpenDisplay(nullptr);
    if (D == nullptr) return;
    Wm = fork();
    if (Wm == 0) {
      execlp("openbox", "openbox", "--sm-disable", nullptr);
      _exit(127);
    }
    // Running once it manages a window of ours: its check window comes before that.
    Window probe = XCreateSimpleWindow(D, DefaultRootWindow(D), 0, 0, 10, 10, 0, 0, 0);
    XMapWindow(D, probe);
    XSync(D, False);
    Running = Wait([&] {
      for (unsigned long c : Atoms("_NET_CLIENT_LIST", XA_WINDOW))
        if (c == probe) return true;
      // A window mapped before the manager took over is left alone: map it once more.
      XUnmapWindow(D, probe);
      XMapWindow(D, probe);
      XSync(D, False);
      return false;
    });
    XDestroyWindow(D, probe);
    XSync(D, False);
  }
  static void TearDownTestSuite() {
    if (Wm > 0) {
      kill(Wm, SIGTERM);
      waitpid(Wm, nullptr, 0);
    }
    if (D != nullptr) XCloseDisplay(D);
  }
  void SetUp() override {
    if (D == nullptr) GTEST_SKIP() << "no X display (run under scripts/with-xvfb)";
    if (std::system("command -v openbox >/dev/null") != 0)
      GTEST_SKIP() << "openbox is not installed (package openbox)";
    ASSERT_TRUE(Running) << "openbox did not start managing windows within 10 s";
  }
  void TearDown() override {
    frmVolume = nullptr;
    form.reset();
    for (Window w : docks) XDestroyWindow(D, w);
    XSync(D, False);
    Application->ProcessMessages();
  }

  static bool Wait(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      usleep(20000);
    }
    return false;
  }
  // A property of 32-bit items (of the root window when w is 0).
  static std::vector<unsigned long> Atoms(const char* name, Atom type, Window w = 0) {
    Atom t;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(D, w != 0 ? w : DefaultRootWindow(D), XInternAtom(D, name, False), 0,
                           1024, False, type, &t, &format, &n, &after, &data) == Success &&
        data != nullptr) {
      auto* items = reinterpret_cast<unsigned long*>(data);
      out.assign(items, items + n);
    }
    if (data != nullptr) XFree(data);
    return out;
  }

  void Dock(TRect r) {
    Window w = XCreateSimpleWindow(D, DefaultRootWindow(D), r.Left, r.Top, r.Width(), r.Height(), 0,
                                   0, 0x303030);
    Atom dock = XInternAtom(D, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(D, w, XInternAtom(D, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&dock), 1);
    XSizeHints sh{};
    sh.flags = USPosition | USSize;
    sh.x = r.Left;
    sh.y = r.Top;
    sh.width = r.Width();
    sh.height = r.Height();
    XSetWMNormalHints(D, w, &sh);
    XMapWindow(D, w);
    XSync(D, False);
    docks.push_back(w);
    Wait([&] {
      for (unsigned long c : Atoms("_NET_CLIENT_LIST", XA_WINDOW))
        if (c == w) return true;
      return false;
    });
  }

  // The overlay's window among the manager's clients, and its rectangle on the screen.
  Window Overlay(TRect& r) {
    for (unsigned long c : Atoms("_NET_CLIENT_LIST", XA_WINDOW)) {
      char* name = nullptr;
      if (!XFetchName(D, c, &name) || name == nullptr) continue;
      const bool ours = String(name) == "VOLUME";
      XFree(name);
      XWindowAttributes wa;
      if (!ours || !XGetWindowAttributes(D, c, &wa) || wa.map_state != IsViewable) continue;
      int x, y;
      Window child;
      XTranslateCoordinates(D, c, DefaultRootWindow(D), 0, 0, &x, &y, &child);
      r = {x, y, x + wa.width, y + wa.height};
      return c;
    }
    return 0;
  }

  static inline Display* D = nullptr;
  static inline pid_t Wm = -1;
  static inline bool Running = false;
  std::vector<Window> docks;
  TOwned<TfrmVolume> form;
};

// A compositing manager is there (the test holds its selection): the strip is a 32-bit window
// whose pixels carry the fade's alpha, premultiplied, instead of an opacity hint.
TEST_F(OpenboxDesktop, UnderACompositorTheFadeIsInThePixels) {
  Window owner = XCreateSimpleWindow(D, DefaultRootWindow(D), 0, 0, 1, 1, 0, 0, 0);
  const Atom cm = XInternAtom(D, "_NET_WM_CM_S0", False);
  XSetSelectionOwner(D, cm, owner, CurrentTime);
  XSync(D, False);
  form.reset(new TfrmVolume(nullptr));
  frmVolume = form.get();
  form->SetCaption("VOLUME");
  form->SetTransparentColorValue(clFuchsia);
  form->SetTransparentColor(true);
  form->Timer1->SetInterval(10);
  ShowOverlayStep(form.get(), 60, false, alBottom);
  TRect r;
  Window w = 0;
  ASSERT_TRUE(LoopUntil([&] { return (w = Overlay(r)) != 0; }));
  XWindowAttributes wa;
  ASSERT_TRUE(XGetWindowAttributes(D, w, &wa));
  EXPECT_EQ(wa.depth, 32);
  ASSERT_TRUE(LoopUntil([&] { return form->AlphaBlendValue() < 140; }));
  form->Timer2->SetEnabled(false);  // held mid-fade
  const unsigned long a = form->AlphaBlendValue();
  Application->ProcessMessages();
  XSync(D, False);
  // The first bar (yellow) at 138, 50, and the key colour between bars see-through.
  XImage* img = XGetImage(D, w, 138 + 5, 50, 11, 1, AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  const unsigned long bar = XGetPixel(img, 0, 0), gap = XGetPixel(img, 10, 0);
  XDestroyImage(img);
  const unsigned long c = (255 * a + 127) / 255;
  EXPECT_EQ(bar, a << 24 | c << 16 | c << 8) << std::hex << bar;
  EXPECT_EQ(gap, 0u) << std::hex << gap;
  EXPECT_TRUE(Atoms("_NET_WM_WINDOW_OPACITY", XA_CARDINAL, w).empty());
  XSetSelectionOwner(D, cm, None, CurrentTime);
  XDestroyWindow(D, owner);
}

struct TCase {
  const char* name;
  TRect dock;  // empty: none
  TAlign align;
  TRect strip;
};

class Placement : public OpenboxDesktop, public ::testing::WithParamInterface<TCase> {};

TEST_P(Placement, OnTheFiguresOnTopListedNeverFocused) {
  const TCase& c = GetParam();
  if (!c.dock.IsEmpty()) Dock(c.dock);
  form.reset(new TfrmVolume(nullptr));
  frmVolume = form.get();
  form->SetCaption("VOLUME");
  form->Timer1->SetInterval(600000);
  ShowOverlayStep(form.get(), 60, false, c.align);
  TRect r;
  Window w = 0;
  EXPECT_TRUE(LoopUntil([&] {
    XSync(D, False);
    w = Overlay(r);
    return w != 0 && r == c.strip;
  })) << "at "
      << r.Left << "," << r.Top << " " << r.Width() << "x" << r.Height();
  ASSERT_NE(w, 0u);
  const Atom above = XInternAtom(D, "_NET_WM_STATE_ABOVE", False);
  const Atom skip = XInternAtom(D, "_NET_WM_STATE_SKIP_TASKBAR", False);
  const auto state = Atoms("_NET_WM_STATE", XA_ATOM, w);
  EXPECT_NE(std::find(state.begin(), state.end(), above), state.end());
  EXPECT_EQ(std::find(state.begin(), state.end(), skip), state.end());
  Window focus;
  int revert;
  XGetInputFocus(D, &focus, &revert);
  EXPECT_NE(focus, w);
  const auto active = Atoms("_NET_ACTIVE_WINDOW", XA_WINDOW);
  EXPECT_TRUE(active.empty() || active[0] != w);
}

INSTANTIATE_TEST_SUITE_P(
    Openbox, Placement,
    ::testing::Values(TCase{"Bottom", {}, alBottom, {0, 614, 1280, 720}},
                      TCase{"Top", {}, alTop, {0, 0, 1280, 106}},
                      TCase{"AboveBottomDock", {0, 680, 1280, 720}, alBottom, {0, 574, 1280, 680}},
                      TCase{"BelowTopDock", {0, 0, 1280, 30}, alTop, {0, 30, 1280, 136}},
                      TCase{"RightOfLeftDock", {0, 0, 60, 720}, alBottom, {60, 614, 1280, 720}}),
    [](const auto& info) { return String(info.param.name); });

}  // namespace
