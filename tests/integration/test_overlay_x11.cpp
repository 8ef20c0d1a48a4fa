// The overlay as a real X window (run under scripts/with-xvfb): placed against a dock window,
// borderless with its own title and taskbar entry, kept above a window mapped over it, see-through
// where the key colour is (read back from an xwd screenshot), faded through its opacity hint.
#include <gtest/gtest.h>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/Dialogs.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/frmVolumeU.h>
#include <qx/platform/windows/WinUser.h>
#include "tests/framework/test_app_wait.h"
#include "tests/master_volume/overlay_step.h"

// Xlib's `Screen` type would clash with the framework's Screen object.
#define Screen XlibScreen
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#undef Screen

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

// A second client on the same display: it plays the desktop's dock and other programs' windows
// and looks at the overlay from outside.
class TXClient {
 public:
  TXClient() : D(XOpenDisplay(nullptr)) {}
  ~TXClient() {
    if (D == nullptr) return;
    for (Window w : FMade) XDestroyWindow(D, w);
    XCloseDisplay(D);
  }
  Display* D;

  Window MakeWindow(TRect r, unsigned long rgb, bool dock = false) {
    Window root = DefaultRootWindow(D);
    Window w = XCreateSimpleWindow(D, root, r.Left, r.Top, r.Width(), r.Height(), 0, 0, rgb);
    if (dock) {
      Atom type = XInternAtom(D, "_NET_WM_WINDOW_TYPE", False);
      Atom value = XInternAtom(D, "_NET_WM_WINDOW_TYPE_DOCK", False);
      XChangeProperty(D, w, type, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&value), 1);
    }
    XMapWindow(D, w);
    XSync(D, False);
    FMade.push_back(w);
    return w;
  }

  Window FindByName(const char* name) {
    XSync(D, False);
    Window rootRet, parent, *children = nullptr;
    unsigned n = 0;
    Window found = 0;
    XQueryTree(D, DefaultRootWindow(D), &rootRet, &parent, &children, &n);
    for (unsigned i = 0; i < n && found == 0; ++i) {
      char* title = nullptr;
      if (XFetchName(D, children[i], &title) && title != nullptr) {
        if (std::string(title) == name) found = children[i];
        XFree(title);
      }
    }
    if (children != nullptr) XFree(children);
    return found;
  }

  TRect Geometry(Window w) {
    XWindowAttributes wa;
    XGetWindowAttributes(D, w, &wa);
    int x, y;
    Window child;
    XTranslateCoordinates(D, w, DefaultRootWindow(D), 0, 0, &x, &y, &child);
    return {x, y, x + wa.width, y + wa.height};
  }

  bool Viewable(Window w) {
    XSync(D, False);
    XWindowAttributes wa;
    return XGetWindowAttributes(D, w, &wa) && wa.map_state == IsViewable;
  }

  // Position in the stacking order, bottom = 0.
  int StackIndex(Window w) {
    XSync(D, False);
    Window rootRet, parent, *children = nullptr;
    unsigned n = 0;
    int index = -1;
    XQueryTree(D, DefaultRootWindow(D), &rootRet, &parent, &children, &n);
    for (unsigned i = 0; i < n; ++i)
      if (children[i] == w) index = static_cast<int>(i);
    if (children != nullptr) XFree(children);
    return index;
  }

  std::vector<unsigned long> Property(Window w, const char* name, Atom type) {
    XSync(D, False);
    Atom actual;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(D, w, XInternAtom(D, name, False), 0, 64, False, type, &actual, &format,
                           &n, &after, &data) == Success &&
        data != nullptr && format == 32) {
      // Xlib hands 32-bit items out as longs, sign-extended.
      auto* v = reinterpret_cast<unsigned long*>(data);
      for (unsigned long i = 0; i < n; ++i) out.push_back(v[i] & 0xFFFFFFFFul);
    }
    if (data != nullptr) XFree(data);
    return out;
  }

  Atom Intern(const char* name) { return XInternAtom(D, name, False); }

 private:
  std::vector<Window> FMade;
};

// A screenshot of the root window through xwd.
class TShot {
 public:
  bool Take() {
    auto path = std::filesystem::temp_directory_path() / "qx_overlay_root.xwd";
    String cmd = "xwd -root -silent > " + path.string();
    if (std::system(cmd.c_str()) != 0) return false;
    std::ifstream in(path, std::ios::binary);
    FData.assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(path);
    if (FData.size() < 100) return false;
    FHeaderSize = Card(0);
    FByteOrder = Card(7 * 4);
    FBitsPerPixel = Card(11 * 4);
    FBytesPerLine = Card(12 * 4);
    FRed = Card(14 * 4);
    FGreen = Card(15 * 4);
    FBlue = Card(16 * 4);
    FWidth = Card(4 * 4);
    FHeight = Card(5 * 4);
    uint32_t ncolors = Card(19 * 4);
    FPixels = FHeaderSize + ncolors * 12;
    return FBitsPerPixel == 32 && FData.size() >= FPixels + size_t(FBytesPerLine) * FHeight;
  }

  TColor Pixel(int x, int y) const {
    size_t at = FPixels + size_t(y) * FBytesPerLine + size_t(x) * 4;
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i) {
      uint32_t b = static_cast<unsigned char>(FData[at + i]);
      p |= FByteOrder == 0 ? b << (8 * i) : b << (8 * (3 - i));
    }
    auto chan = [p](uint32_t mask) {
      return static_cast<int>((p & mask) >> __builtin_ctz(mask)) & 0xFF;
    };
    return RGB(chan(FRed), chan(FGreen), chan(FBlue));
  }

 private:
  uint32_t Card(size_t at) const {  // header fields are big-endian
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(FData[at + i]);
    return v;
  }
  std::string FData;
  uint32_t FHeaderSize = 0, FByteOrder = 0, FBitsPerPixel = 0, FBytesPerLine = 0;
  uint32_t FRed = 0, FGreen = 0, FBlue = 0, FWidth = 0, FHeight = 0;
  size_t FPixels = 0;
};

class OverlayOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr || x.D == nullptr)
      GTEST_SKIP() << "no X display (run under scripts/with-xvfb)";
    ASSERT_FALSE(UsingVirtualDesktop()) << "the X11 back end did not open the display";
  }
  void TearDown() override {
    frmVolume = nullptr;
    form.reset();
    Application->ProcessMessages();
  }

  void MakeForm() {
    form.reset(new TfrmVolume(nullptr));
    frmVolume = form.get();
    form->SetTransparentColorValue(clFuchsia);
    form->SetTransparentColor(true);
  }

  void ShowOverlay(int32_t volume, TAlign align = alBottom) {
    ShowOverlayStep(form.get(), volume, false, align);
  }

  Window OverlayWindow() {
    Window w = 0;
    LoopUntil([&] { return (w = x.FindByName("VOLUME")) != 0 && x.Viewable(w); });
    return w;
  }

  TXClient x;
  TOwned<TfrmVolume> form;
};

TEST_F(OverlayOnX11, PlacedAboveTheDockAsABorderlessStayOnTopWindowWithItsOwnEntry) {
  x.MakeWindow({0, 1040, 1920, 1080}, 0x303030, /*dock=*/true);
  HWND tray = FindWindowW("Shell_TrayWnd", nullptr);
  ASSERT_NE(tray, nullptr);
  RECT r{};
  ASSERT_TRUE(GetWindowRect(tray, &r));
  EXPECT_EQ(r.top, 1040);
  EXPECT_EQ(r.right, 1920);

  MakeForm();
  ShowOverlay(50);
  Window w = OverlayWindow();
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x.Geometry(w), (TRect{0, 934, 1920, 1040}));
  auto state = x.Property(w, "_NET_WM_STATE", XA_ATOM);
  EXPECT_NE(std::find(state.begin(), state.end(), x.Intern("_NET_WM_STATE_ABOVE")), state.end());
  EXPECT_EQ(std::find(state.begin(), state.end(), x.Intern("_NET_WM_STATE_SKIP_TASKBAR")),
            state.end());
  auto motif = x.Property(w, "_MOTIF_WM_HINTS", x.Intern("_MOTIF_WM_HINTS"));
  ASSERT_EQ(motif.size(), 5u);
  EXPECT_EQ(motif[2], 0u);  // no decorations
  Window transientFor = 0;
  EXPECT_FALSE(XGetTransientForHint(x.D, w, &transientFor));
  EXPECT_EQ(x.Property(w, "_NET_WM_ICON", XA_CARDINAL).size() > 2, true);
  // It never takes the focus, not even when first shown.
  XWMHints* hints = XGetWMHints(x.D, w);
  ASSERT_NE(hints, nullptr);
  EXPECT_TRUE((hints->flags & InputHint) && !hints->input);
  XFree(hints);
  EXPECT_EQ(x.Property(w, "_NET_WM_USER_TIME", XA_CARDINAL), std::vector<unsigned long>{0});
}

// With several monitors the screen the overlay spans is the primary one, wherever it lies.
TEST_F(OverlayOnX11, ScreenIsThePrimaryMonitor) {
  const Window root = DefaultRootWindow(x.D);
  const Atom names[] = {x.Intern("QX-LEFT"), x.Intern("QX-RIGHT")};
  for (int i = 0; i < 2; ++i) {
    XRRMonitorInfo* m = XRRAllocateMonitor(x.D, 0);
    m->name = names[i];
    m->primary = i == 1;
    m->x = i * 640;
    m->width = i == 0 ? 640 : 1280;
    m->height = i == 0 ? 480 : 1024;
    m->mwidth = m->width / 4;
    m->mheight = m->height / 4;
    XRRSetMonitor(x.D, root, m);
    XFree(m);
  }
  XSync(x.D, False);
  EXPECT_EQ(Screen->Width(), 1280);
  EXPECT_EQ(Screen->Height(), 1024);
  // Forms place windows in the primary monitor's coordinates: the strip lies on that monitor.
  MakeForm();
  ShowOverlay(50);
  if (Window w = OverlayWindow())
    EXPECT_EQ(x.Geometry(w), (TRect{640, 918, 1920, 1024}));
  else
    ADD_FAILURE() << "the overlay was not shown";
  for (Atom n : names) XRRDeleteMonitor(x.D, root, n);
  XSync(x.D, False);
  EXPECT_EQ(Screen->Width(), 1920);
}

TEST_F(OverlayOnX11, LeftDockMovesTheStripRight) {
  x.MakeWindow({0, 0, 60, 1080}, 0x303030, /*dock=*/true);
  MakeForm();
  ShowOverlay(50, alTop);
  Window w = OverlayWindow();
  ASSERT_NE(w, 0u);
  EXPECT_EQ(x.Geometry(w), (TRect{60, 0, 1920, 106}));
}

TEST_F(OverlayOnX11, StaysAboveAWindowMappedOverItAndTheKeyColourIsSeeThrough) {
  MakeForm();
  ShowOverlay(50);
  Window w = OverlayWindow();
  ASSERT_NE(w, 0u);
  // Another program's window, green, over the whole strip.
  Window other = x.MakeWindow({0, 900, 1920, 1080}, 0x00FF00);
  ASSERT_TRUE(LoopUntil([&] { return x.StackIndex(w) > x.StackIndex(other); }))
      << "the overlay did not come back above the other window";

  TShot shot;
  const int top = 974, panel = 128;
  bool painted =
      LoopUntil([&] { return shot.Take() && shot.Pixel(panel + 15, top + 30) == clYellow; });
  if (!shot.Take()) GTEST_SKIP() << "xwd is not available (package x11-apps)";
  ASSERT_TRUE(painted) << "the lit bar never showed on the screen";
  EXPECT_EQ(shot.Pixel(panel + 15, top + 30), clYellow);  // a lit bar
  EXPECT_EQ(shot.Pixel(panel + 815, top + 52), clWhite);  // a dot
  EXPECT_EQ(shot.Pixel(panel + 15, top + 5), clLime);     // key colour: the window below
  EXPECT_EQ(shot.Pixel(panel + 40, top + 52), clLime);    // between two bars
  EXPECT_EQ(shot.Pixel(2, top + 2), clLime);              // the picture panel's background
  for (int y = top; y < top + 106; y += 7)
    for (int xx = 0; xx < 1920; xx += 13)
      ASSERT_NE(shot.Pixel(xx, y), clFuchsia) << xx << "," << y;  // never the key itself
}

TEST_F(OverlayOnX11, FadeSetsTheOpacityHintAndHidingUnmaps) {
  MakeForm();
  form->Timer1->SetInterval(50);
  ShowOverlay(30);
  Window w = OverlayWindow();
  ASSERT_NE(w, 0u);
  EXPECT_TRUE(x.Property(w, "_NET_WM_WINDOW_OPACITY", XA_CARDINAL).empty());
  ASSERT_TRUE(LoopUntil([&] { return form->AlphaBlendValue() < 200; }));
  form->Timer2->SetEnabled(false);  // hold the fade while the hint is read from outside
  const unsigned long expected = 0x01010101ul * form->AlphaBlendValue();
  EXPECT_TRUE(LoopUntil([&] {
    auto opacity = x.Property(w, "_NET_WM_WINDOW_OPACITY", XA_CARDINAL);
    return opacity.size() == 1 && opacity[0] == expected;
  }));
  form->Timer2->SetEnabled(true);
  ASSERT_TRUE(LoopUntil([&] { return !form->Visible(); }));
  EXPECT_FALSE(x.Viewable(w));
  ShowOverlay(31);  // opaque again
  ASSERT_TRUE(LoopUntil([&] { return x.Viewable(w); }));
  EXPECT_TRUE(
      LoopUntil([&] { return x.Property(w, "_NET_WM_WINDOW_OPACITY", XA_CARDINAL).empty(); }));
}

TEST_F(OverlayOnX11, ShowMessageIsAModalWindowDismissedWithReturn) {
  // While ShowMessage waits, the loop runs nothing of the application's (no timers): a thread
  // of the test's own presses Return on the message over the test's own connection.
  std::atomic<bool> seen{false};
  auto t0 = std::chrono::steady_clock::now();
  std::thread presser([&] {
    while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30)) {
      Window w = x.FindByName("Message");
      if (w != 0 && x.Viewable(w)) {
        seen = true;
        XEvent e{};
        e.xkey.type = KeyPress;
        e.xkey.window = w;
        e.xkey.root = DefaultRootWindow(x.D);
        e.xkey.same_screen = True;
        e.xkey.keycode = XKeysymToKeycode(x.D, XK_Return);
        XSendEvent(x.D, w, False, KeyPressMask, &e);
        XSync(x.D, False);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // polls for the window
    }
  });
  ShowMessage("Mixer: no volume control\nSecond line");
  presser.join();
  EXPECT_TRUE(seen);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
  EXPECT_EQ(x.FindByName("Message"), 0u);  // gone again
}

}  // namespace
