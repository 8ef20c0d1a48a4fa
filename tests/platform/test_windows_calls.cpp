// The host window and GDI calls over the virtual desktop: the taskbar by class name, window
// rectangles, z-order and activation flags of SetWindowPos, device-context calls on bad handles.
#include <gtest/gtest.h>

#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/Forms.h>
#include <qx/platform/windows/WinGdi.h>
#include <qx/platform/windows/WinUser.h>

namespace {

class WindowsCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    TVirtualDesktop d;
    ASSERT_TRUE(ParseTaskbar("top:30", d));
    UseVirtualDesktop(d);
  }
  void TearDown() override { UseVirtualDesktop(); }
};

TEST_F(WindowsCalls, TaskbarAndDesktopRectangles) {
  HWND tray = FindWindowW("Shell_TrayWnd", nullptr);
  ASSERT_NE(tray, nullptr);
  RECT r{};
  ASSERT_TRUE(GetWindowRect(tray, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 1920);
  EXPECT_EQ(r.bottom, 30);
  ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &r));
  EXPECT_EQ(r.right, 1920);
  EXPECT_EQ(r.bottom, 1080);
  EXPECT_EQ(GetDesktopWindow(), GetDesktopWindow());

  // Unknown windows leave the rectangle alone.
  RECT untouched{1, 2, 3, 4};
  EXPECT_FALSE(GetWindowRect(nullptr, &untouched));
  EXPECT_EQ(untouched.right, 3);
  EXPECT_FALSE(GetWindowRect(tray, nullptr));
  EXPECT_EQ(FindWindowW("Shell_TrayWnd", "Some title"), nullptr);

  TVirtualDesktop none;
  ASSERT_TRUE(ParseTaskbar("none", none));
  UseVirtualDesktop(none);
  EXPECT_EQ(FindWindowW("Shell_TrayWnd", nullptr), nullptr);
}

TEST_F(WindowsCalls, FormsAreFoundByClassAndTitleOnceTheyHaveAHandle) {
  TOwned<TForm> f(new TForm(nullptr));
  f->SetCaption("VOLUME");
  EXPECT_EQ(FindWindowW("TForm", "VOLUME"), nullptr);
  HWND h = f->Handle();
  EXPECT_EQ(FindWindowW("TForm", "VOLUME"), h);
  EXPECT_EQ(FindWindowW(nullptr, "VOLUME"), h);
  EXPECT_EQ(FindWindowW("TForm", "other"), nullptr);
}

TEST_F(WindowsCalls, SetWindowPosMovesRaisesAndActivatesAsTheFlagsSay) {
  TOwned<TForm> f(new TForm(nullptr));
  f->SetBounds(10, 20, 300, 100);
  f->Show();
  HWND h = f->Handle();
  ASSERT_TRUE(SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
  EXPECT_EQ(f->BoundsRect(), (TRect{10, 20, 310, 120}));  // neither moved nor sized
  const TVirtualWindowState* s = VirtualWindowState(*f);
  EXPECT_TRUE(s->TopMost);
  EXPECT_EQ(s->Activations, 0);
  EXPECT_FALSE(f->Focused());

  ASSERT_TRUE(SetWindowPos(h, HWND_NOTOPMOST, 5, 6, 70, 80, 0));
  EXPECT_EQ(f->BoundsRect(), (TRect{5, 6, 75, 86}));
  EXPECT_FALSE(s->TopMost);
  EXPECT_TRUE(f->Focused());

  ASSERT_TRUE(
      SetWindowPos(h, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW));
  EXPECT_FALSE(f->Visible());

  EXPECT_FALSE(SetWindowPos(GetDesktopWindow(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE));
  EXPECT_FALSE(SetWindowPos(nullptr, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE));
}

TEST(GdiCalls, DeviceContextCallsOnACanvasAndOnNoCanvas) {
  TBitmap b(120, 80);
  b.Clear(clWhite);
  TCanvas* c = b.Canvas();
  HDC dc = c->Handle();
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(dc, OPAQUE), TRANSPARENT);
  c->Brush()->Color = clRed;
  ASSERT_TRUE(BeginPath(dc));
  c->Rectangle(10, 10, 50, 50);
  ASSERT_TRUE(EndPath(dc));
  EXPECT_EQ(b.Pixel(30, 30), clWhite);  // nothing drawn yet
  ASSERT_TRUE(StrokeAndFillPath(dc));
  EXPECT_EQ(b.Pixel(30, 30), clRed);
  EXPECT_FALSE(StrokeAndFillPath(dc));  // the path was used up

  EXPECT_EQ(SetBkMode(nullptr, TRANSPARENT), 0);
  EXPECT_FALSE(BeginPath(nullptr));
  EXPECT_FALSE(EndPath(nullptr));
  EXPECT_FALSE(StrokeAndFillPath(nullptr));
}

}  // namespace
