// The overlay on a real Wayland compositor (run under scripts/with-sway, 1280x720): a native
// layer surface at either edge and next to the test's own panels, through XWayland, and mid-fade
// on both, each read back from the compositor's screenshot (grim) against the strip's figures:
// the full width less a vertical panel, 106 pixels high, the first bar 138 pixels from its left.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/frmVolumeU.h>
#include "tests/framework/test_app_wait.h"
#include "tests/integration/sway_shot.h"
#include "tests/master_volume/overlay_step.h"

namespace {

using namespace sway_shot;

constexpr int32_t kScreenW = 1280, kScreenH = 720;

class OverlayOnSway : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("WAYLAND_DISPLAY") == nullptr || std::getenv("QX_LAYER_CLIENT") == nullptr)
      GTEST_SKIP() << "no compositor (run under scripts/with-sway with QX_LAYER_CLIENT)";
    if (std::system("command -v grim >/dev/null") != 0)
      GTEST_SKIP() << "grim is not installed (package grim)";
    background = std::make_unique<TLayerClient>("background", "top+bottom+left+right", 0, 0, -1,
                                                kBackground);
    ASSERT_TRUE(background->Ready);
  }
  void TearDown() override {
    frmVolume = nullptr;
    form.reset();
    Application->ProcessMessages();
  }
  void Use(const String& mode) {
    String error, why;
    ASSERT_TRUE(ChooseWindowBackend(mode, "", error, why)) << error;
    ASSERT_EQ(why.rfind(mode + ":", 0), 0u) << why;
  }
  void Show(TAlign align) { ShowHeldStrip(form, align); }
  // Waits until the screenshot shows the strip there; the last mismatch otherwise.
  String WaitForStrip(int left, int top, int width, TColor above = kBackground,
                      TColor below = kBackground, const String& output = "") {
    return sway_shot::WaitForStrip(left, top, width, above, below, output,
                                   output.empty() ? kBackground : clNone);
  }

  std::unique_ptr<TLayerClient> background;
  TOwned<TfrmVolume> form;
};

// The compositor restarting takes its XWayland with it: the overlay shows again on either.
class Restart : public OverlayOnSway, public ::testing::WithParamInterface<const char*> {};

TEST_P(Restart, ShowsAgainAfterTheCompositorRestarts) {
  const char* stop = std::getenv("QX_SWAY_STOP");
  const char* start = std::getenv("QX_SWAY_START");
  if (stop == nullptr || start == nullptr) GTEST_SKIP() << "with-sway gives no restart";
  Use(GetParam());
  Show(alBottom);
  const int top = kScreenH - kStripH;
  ASSERT_EQ(WaitForStrip(0, top, kScreenW), "");
  background.reset();
  ASSERT_EQ(std::system(stop), 0);
  // The overlay goes on while the compositor is away: a change comes, the loop runs.
  ShowOverlayStep(form.get(), 60, false, alBottom);
  for (int i = 0; i < 20; ++i) Application->HandleMessage(std::chrono::milliseconds(20));
  ASSERT_EQ(std::system(start), 0);
  background =
      std::make_unique<TLayerClient>("background", "top+bottom+left+right", 0, 0, -1, kBackground);
  ASSERT_TRUE(background->Ready);
  EXPECT_EQ(WaitForStrip(0, top, kScreenW), "");
}

INSTANTIATE_TEST_SUITE_P(Sway, Restart, ::testing::Values("wayland", "x11"));

struct TPlacement {
  const char* name;
  TAlign align;
  const char* panelEdges;  // nullptr: no panel
  int panelW, panelH, zone;
  int left, top, width;
};

class Placement : public OverlayOnSway, public ::testing::WithParamInterface<TPlacement> {};

TEST_P(Placement, NativeLayerSurfaceLiesAtItsEdgeNextToPanels) {
  const TPlacement& p = GetParam();
  std::unique_ptr<TLayerClient> panel;
  if (p.panelEdges != nullptr) {
    panel = std::make_unique<TLayerClient>("top", p.panelEdges, p.panelW, p.panelH, p.zone, kPanel);
    ASSERT_TRUE(panel->Ready);
  }
  Use("wayland");
  Show(p.align);
  const bool panelAbove = p.panelEdges != nullptr && String(p.panelEdges).rfind("top+", 0) == 0;
  const bool panelBelow = p.panelEdges != nullptr && String(p.panelEdges).rfind("bottom+", 0) == 0;
  EXPECT_EQ(WaitForStrip(p.left, p.top, p.width, panelAbove ? kPanel : kBackground,
                         panelBelow ? kPanel : kBackground),
            "");
}

INSTANTIATE_TEST_SUITE_P(
    Sway, Placement,
    ::testing::Values(
        TPlacement{"Bottom", alBottom, nullptr, 0, 0, 0, 0, kScreenH - kStripH, kScreenW},
        TPlacement{"Top", alTop, nullptr, 0, 0, 0, 0, 0, kScreenW},
        TPlacement{"AboveBottomPanel", alBottom, "bottom+left+right", 0, 40, 40, 0,
                   kScreenH - 40 - kStripH, kScreenW},
        TPlacement{"BelowTopPanel", alTop, "top+left+right", 0, 30, 30, 0, 30, kScreenW},
        TPlacement{"RightOfLeftPanel", alBottom, "left+top+bottom", 60, 0, 60, 60,
                   kScreenH - kStripH, kScreenW - 60}),
    [](const auto& info) { return String(info.param.name); });

struct TXWaylandPlacement {
  const char* name;
  TAlign align;
  int top;
};

class XWaylandPlacement : public OverlayOnSway,
                          public ::testing::WithParamInterface<TXWaylandPlacement> {};

TEST_P(XWaylandPlacement, X11WindowLiesAtItsEdgeNotInTheMiddle) {
  Use("x11");
  Show(GetParam().align);
  EXPECT_EQ(WaitForStrip(0, GetParam().top, kScreenW), "");
}

INSTANTIATE_TEST_SUITE_P(Sway, XWaylandPlacement,
                         ::testing::Values(TXWaylandPlacement{"Bottom", alBottom,
                                                              kScreenH - kStripH},
                                           TXWaylandPlacement{"Top", alTop, 0}),
                         [](const auto& info) { return String(info.param.name); });

class Fade : public OverlayOnSway, public ::testing::WithParamInterface<const char*> {};

TEST_P(Fade, MidFadeTheBackgroundIsBlendedThroughTheStrip) {
  Use(GetParam());
  Show(alBottom);
  const int top = kScreenH - kStripH, bar = 138;
  ASSERT_EQ(WaitForStrip(0, top, kScreenW), "");
  form->Timer1->SetInterval(10);
  ShowOverlayStep(form.get(), 60, false, alBottom);
  ASSERT_TRUE(LoopUntil([&] { return form->AlphaBlendValue() < 140; }));
  form->Timer2->SetEnabled(false);  // held mid-fade while the screenshot is taken
  const int a = form->AlphaBlendValue();
  auto blend = [a](int fg, int bg) { return (fg * a + bg * (255 - a) + 127) / 255; };
  const TColor want = RGB(blend(255, GetRValue(kBackground)), blend(255, GetGValue(kBackground)),
                          blend(0, GetBValue(kBackground)));
  TColor seen = clBlack;
  EXPECT_TRUE(LoopUntil([&] {
    TShot s;
    if (!s.Take()) return false;
    seen = s.Pixel(bar + 5, top + 50);
    return Near(seen, want, 4) && Near(s.Pixel(bar + 15, top + 50), kBackground);
  })) << "alpha "
      << a << ": bar pixel " << std::hex << seen << ", wanted " << want;
}

INSTANTIATE_TEST_SUITE_P(Sway, Fade, ::testing::Values("wayland", "x11"));

struct TChoice {
  const char* mode;
  const char* output;
  bool unsetWayland;
  bool ok;
  const char* says;  // the start of `why`, or a part of `error`
};

class Choice : public ::testing::TestWithParam<TChoice> {};

TEST_P(Choice, ChooseWindowBackendTakesWhatIsThereOrSaysWhy) {
  const TChoice& c = GetParam();
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland == nullptr) GTEST_SKIP() << "no compositor (run under scripts/with-sway)";
  const String saved = wayland;
  if (c.unsetWayland) unsetenv("WAYLAND_DISPLAY");
  String error, why;
  const bool ok = ChooseWindowBackend(c.mode, c.output, error, why);
  setenv("WAYLAND_DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(ok, c.ok) << error << why;
  if (c.ok) {
    EXPECT_EQ(why.rfind(c.says, 0), 0u) << why;
  } else {
    EXPECT_NE(error.find(c.says), String::npos) << error;
    EXPECT_EQ(error.find('\n'), String::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sway, Choice,
    ::testing::Values(TChoice{"auto", "", false, true, "wayland: WAYLAND_DISPLAY="},
                      TChoice{"auto", "", true, true, "x11: DISPLAY="},
                      TChoice{"wayland", "HEADLESS-1", false, true, "wayland: "},
                      TChoice{"wayland", "HDMI-A-9", false, false, "HEADLESS-1"},
                      TChoice{"wayland", "", true, false, "WAYLAND_DISPLAY is not set"},
                      TChoice{"x11", "", false, true, "x11: DISPLAY="},
                      TChoice{"x11", "HEADLESS-1", false, false, "Wayland"},
                      TChoice{"none", "", false, true, "none: "},
                      TChoice{"mir", "", false, false, "mir"}));

}  // namespace
