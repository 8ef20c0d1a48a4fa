// The overlay form: its description, window parameters, and its placement against the taskbar
// on every edge, including the cases that fall through the edge test.
#include <qx/framework/ui/WindowServices.h>
#include "overlay_fixture.h"

namespace {

class OverlayPlacement : public OverlayTest {
 protected:
  TRect Placed(const char* taskbar, TAlign align) {
    MakeForm(1920, taskbar);
    ShowOverlay(50, false, align);
    return form->BoundsRect();
  }
  TRect PlacedWithTaskbarRect(TRect taskbar, TAlign align = alBottom) {
    TVirtualDesktop d;
    d.TaskbarRect = taskbar;
    MakeForm(d);
    ShowOverlay(50, false, align);
    return form->BoundsRect();
  }
};

TEST_F(OverlayPlacement, FormDescriptionAsDesigned) {
  MakeForm();
  EXPECT_EQ(form->Name(), "frmVolume");
  EXPECT_EQ(form->Caption(), "VOLUME");
  EXPECT_EQ(form->BorderStyle(), bsNone);
  EXPECT_EQ(form->ClientWidth(), 628);
  EXPECT_EQ(form->ClientHeight(), 106);
  EXPECT_FALSE(form->Scaled());
  EXPECT_TRUE(form->TransparentColor());
  EXPECT_EQ(form->TransparentColorValue(), clFuchsia);
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(form->VolAlign, alBottom);

  EXPECT_EQ(form->Panel1->Align(), alLeft);
  EXPECT_EQ(form->Panel1->BoundsRect(), (TRect{0, 0, 128, 106}));
  EXPECT_EQ(form->Panel1->BevelOuter(), bvNone);
  EXPECT_EQ(form->Panel1->Color(), clFuchsia);
  EXPECT_FALSE(form->Panel1->ParentBackground());

  EXPECT_EQ(form->Image1->BoundsRect(), (TRect{24, 5, 120, 101}));
  EXPECT_TRUE(form->Image1->Visible());
  EXPECT_EQ(form->imgMute->BoundsRect(), (TRect{23, 4, 119, 100}));
  EXPECT_FALSE(form->imgMute->Visible());
  EXPECT_EQ(form->imgWiFi->BoundsRect(), (TRect{4, 53, 68, 117}));
  EXPECT_FALSE(form->imgWiFi->Visible());
  for (TImage* i : {form->Image1, form->imgMute, form->imgWiFi}) {
    ASSERT_NE(i->Bitmap(), nullptr) << i->Name();
    EXPECT_EQ(i->Bitmap()->Width(), i->Width()) << i->Name();
    EXPECT_EQ(i->Parent(), form->Panel1);
  }

  EXPECT_EQ(form->Timer1->Interval(), 4000u);
  EXPECT_FALSE(form->Timer1->Enabled());
  EXPECT_EQ(form->Timer2->Interval(), 10u);
  EXPECT_FALSE(form->Timer2->Enabled());
  EXPECT_EQ(form->pnlVol, nullptr);  // made on the first show
}

TEST_F(OverlayPlacement, PicturesNeverUseTheKeyColour) {
  MakeForm();
  for (TImage* i : {form->Image1, form->imgMute, form->imgWiFi}) {
    const TBitmap& b = *i->Bitmap();
    int opaque = 0;
    for (int32_t y = 0; y < b.Height(); ++y) {
      for (int32_t x = 0; x < b.Width(); ++x) {
        if (b.Alpha(x, y) == 0) continue;
        ++opaque;
        EXPECT_EQ(b.Alpha(x, y), 255) << i->Name();  // no half-transparent fringe
        ASSERT_NE(b.Pixel(x, y), clFuchsia) << i->Name();
      }
    }
    EXPECT_GT(opaque, b.Width() * b.Height() / 8) << i->Name();
  }
}

TEST_F(OverlayPlacement, WindowHasItsOwnTaskbarButtonAndNoOwner) {
  MakeForm();
  TCreateParams p = form->Params();
  EXPECT_TRUE(p.ExStyle & WS_EX_APPWINDOW);
  EXPECT_EQ(p.WndParent, DesktopWindowHandle());
  ShowOverlay(10);
  const TVirtualWindowState* s = VirtualWindowState(*form);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Params.ExStyle & WS_EX_APPWINDOW);
  EXPECT_TRUE(s->TopMost);
  EXPECT_EQ(s->Activations, 0);  // placed on top without taking the focus
  EXPECT_EQ(s->Caption, "VOLUME");
  EXPECT_TRUE(s->HasIcon);
}

TEST_F(OverlayPlacement, BottomTaskbar) {
  EXPECT_EQ(Placed("bottom:40", alBottom), (TRect{0, 934, 1920, 1040}));
  EXPECT_EQ(form->pnlVol->Width(), 1792);
  EXPECT_EQ(form->pnlVol->BoundsRect(), (TRect{128, 0, 1920, 106}));
  form.reset();
  EXPECT_EQ(Placed("bottom:40", alTop), (TRect{0, 0, 1920, 106}));
}

TEST_F(OverlayPlacement, TopTaskbar) {
  EXPECT_EQ(Placed("top:40", alTop).Top, 40);
  form.reset();
  EXPECT_EQ(Placed("top:40", alBottom).Top, 974);
}

TEST_F(OverlayPlacement, VerticalTaskbars) {
  EXPECT_EQ(Placed("left:60", alBottom), (TRect{60, 974, 1920, 1080}));
  EXPECT_EQ(form->pnlVol->Width(), 1860 - 128);
  form.reset();
  EXPECT_EQ(Placed("right:60", alBottom), (TRect{0, 974, 1860, 1080}));
  form.reset();
  EXPECT_EQ(Placed("right:60", alTop), (TRect{0, 0, 1860, 106}));
}

TEST_F(OverlayPlacement, NoTaskbarGivesFullWidthAndNoOffset) {
  EXPECT_EQ(Placed("none", alBottom), (TRect{0, 974, 1920, 1080}));
  EXPECT_EQ(form->GetTaskBarInfo(), 3);
}

TEST_F(OverlayPlacement, EdgeCodesAndTheirFallThroughCases) {
  struct Case {
    TRect bar;
    int32_t edge;
  } cases[] = {
      {{0, 1040, 1920, 1080}, 2},  // bottom
      {{0, 0, 1920, 40}, 1},       // top
      {{0, 0, 60, 1080}, 3},       // left
      {{1860, 0, 1920, 1080}, 4},  // right
      {{0, 540, 1920, 580}, 3},    // horizontal, top exactly at half height: left/right test
      {{100, 540, 1920, 580}, 4},  // the same, not starting at x = 0
      {{0, 900, 100, 1000}, 3},    // square
      {{100, 0, 160, 1080}, 4},    // vertical, not at x = 0: right
  };
  for (const Case& c : cases) {
    TVirtualDesktop d;
    d.TaskbarRect = c.bar;
    MakeForm(d);
    EXPECT_EQ(form->GetTaskBarInfo(), c.edge) << c.bar.Left << "," << c.bar.Top;
  }
}

TEST_F(OverlayPlacement, FallThroughPlacesByTheLeftRightRule) {
  // A taskbar starting at half height counts as a left one as wide as the screen.
  EXPECT_EQ(PlacedWithTaskbarRect({0, 540, 1920, 580}), (TRect{1920, 974, 1920, 1080}));
  form.reset();
  EXPECT_EQ(PlacedWithTaskbarRect({100, 0, 160, 1080}), (TRect{0, 974, 1860, 1080}));
}

TEST_F(OverlayPlacement, PlacementRunsOnEachShowNotWhileShown) {
  MakeForm(1920, "bottom:40");
  ShowOverlay(50, false, alBottom);
  EXPECT_EQ(form->Top(), 934);
  ShowOverlay(50, false, alTop);  // already visible: stays where it is
  EXPECT_EQ(form->Top(), 934);
  form->Hide();
  TVolPanel* panel = form->pnlVol;
  ShowOverlay(50, false, alTop);
  EXPECT_EQ(form->Top(), 0);
  EXPECT_EQ(form->pnlVol, panel);  // the bar panel is made once
  EXPECT_EQ(panel->Owner(), form.get());
  EXPECT_EQ(panel->Align(), alClient);
  EXPECT_TRUE(panel->DoubleBuffered());
  EXPECT_EQ(panel->BevelOuter(), bvNone);
}

}  // namespace
