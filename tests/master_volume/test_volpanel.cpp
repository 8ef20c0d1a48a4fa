// The bar panel's pixels: lit bars, dots, the red zone, the outlined figure and the mute state,
// for panels 1792, 1222, 500 and 182 pixels wide.
#include <qx/framework/ui/FontLeakSuppression.h>
#include <vector>

#include "overlay_fixture.h"

namespace {

constexpr TColor kLightRed = RGB(255, 130, 130);
constexpr TColor kSkyBlue = RGB(166, 202, 240);

// What each position shows, read from the frame: a bar at its centre (x + 5, 50) reaches up to
// row 30; a dot at its centre (x + 5, 52) leaves row 30 in the background.
struct Row {
  std::vector<int32_t> lit, red, dots;
};

class VolPanel : public OverlayTest {
 protected:
  // A panel `panelWidth` wide (the form is 128 wider) showing `volume`.
  void Paint(int32_t panelWidth, int32_t volume, bool mute = false) {
    if (!form) MakeForm(panelWidth + 128, "bottom:40");
    ShowOverlay(volume, mute);
    ASSERT_EQ(form->pnlVol->Width(), panelWidth);
  }

  Row ReadRow(TColor bars = clYellow, TColor dots = clWhite) {
    Row r;
    const int32_t A = form->pnlVol->Width() - 172;
    for (int32_t x = 10; x < A; x += 20) {
      TColor top = PanelPixel(x + 5, 30), mid = PanelPixel(x + 5, 52);
      if (top == bars && mid == bars) {
        r.lit.push_back(x);
      } else if (top == clRed && mid == clRed) {
        r.lit.push_back(x);
        r.red.push_back(x);
      } else if (top == clFuchsia && mid == dots) {
        r.dots.push_back(x);
      } else {
        ADD_FAILURE() << "position " << x << " shows neither a bar nor a dot";
      }
      // Every bar and dot has a black outline at its left edge.
      EXPECT_EQ(PanelPixel(x, 52), clBlack) << x;
      EXPECT_EQ(PanelPixel(x + 10, 52), clFuchsia) << x;  // the gap between positions
    }
    return r;
  }

  // Pixels of the figure's box (centred on W - 86, from row 15 down 64 pixels) by colour.
  struct Figure {
    int fill = 0, outline = 0, other = 0;
    int32_t left = 1 << 30, right = -1;
  };
  Figure ReadFigure(TColor fillColor) {
    Figure f;
    const int32_t W = form->pnlVol->Width();
    for (int32_t y = 15; y < 15 + 70; ++y) {
      for (int32_t x = W - 172; x < W; ++x) {
        TColor c = PanelPixel(x, y);
        if (c == clFuchsia) continue;
        f.fill += c == fillColor;
        f.outline += c == clBlack;
        f.other += c != fillColor && c != clBlack;
        f.left = std::min(f.left, x);
        f.right = std::max(f.right, x);
      }
    }
    return f;
  }

  int32_t FigureWidth(int32_t volume) {
    TCanvas c;
    c.Font()->Name = "ARIAL";
    c.Font()->Size = 48;
    c.Font()->Style = fsBold;
    return c.TextWidth(IntToStr(volume) + "%");
  }

  static std::vector<int32_t> Positions(int32_t from, int32_t to) {
    std::vector<int32_t> v;
    for (int32_t x = from; x <= to; x += 20) v.push_back(x);
    return v;
  }
};

TEST_F(VolPanel, FullWidthPanelAtFiftyLightsTheFirstFortyBars) {
  Paint(1792, 50);
  Row r = ReadRow();
  EXPECT_EQ(r.lit, Positions(10, 790));
  EXPECT_EQ(r.dots, Positions(810, 1610));
  EXPECT_TRUE(r.red.empty());
}

TEST_F(VolPanel, RedZoneCoversLitBarsRightOfTheNinetyPercentMark) {
  Paint(1792, 95);
  Row r = ReadRow();
  EXPECT_EQ(r.lit.size(), 77u);
  EXPECT_EQ(r.red, (std::vector<int32_t>{1470, 1490, 1510, 1530}));
  EXPECT_EQ(r.dots, Positions(1550, 1610));

  ShowOverlay(100);
  r = ReadRow();
  EXPECT_EQ(r.lit.size(), 81u);
  EXPECT_EQ(r.red, Positions(1470, 1610));
  EXPECT_TRUE(r.dots.empty());

  ShowOverlay(90);
  r = ReadRow();
  EXPECT_EQ(r.lit, Positions(10, 1450));
  EXPECT_TRUE(r.red.empty());
}

TEST_F(VolPanel, HalvesRoundToEvenSoOnePercentOf1222LightsNothing) {
  Paint(1222, 1);  // 1050 * 1 / 100 = 10.5 -> 10, and 10 < 10 is false
  Row r = ReadRow();
  EXPECT_TRUE(r.lit.empty());
  EXPECT_EQ(r.dots, Positions(10, 1030));
  ShowOverlay(3);  // 31.5 -> 32: two bars
  EXPECT_EQ(ReadRow().lit, (std::vector<int32_t>{10, 30}));
}

TEST_F(VolPanel, NarrowPanels) {
  Paint(500, 50);
  Row r = ReadRow();
  EXPECT_EQ(r.lit, Positions(10, 150));
  EXPECT_EQ(r.dots, Positions(170, 310));

  form.reset();
  Paint(182, 50);  // A = 10: no position at all, only the figure
  r = ReadRow();
  EXPECT_TRUE(r.lit.empty() && r.dots.empty());
  EXPECT_EQ(PanelPixel(15, 52), clFuchsia);
  EXPECT_GT(ReadFigure(kSkyBlue).fill, 300);
}

TEST_F(VolPanel, FigureIsFilledSkyBlueOutlinedBlackAndCentredOnWMinus86) {
  Paint(1792, 95);
  Figure f = ReadFigure(kSkyBlue);
  EXPECT_GT(f.fill, 1000);
  EXPECT_GT(f.outline, 200);
  EXPECT_EQ(f.other, 0);  // hard edges, no smoothing into the key colour
  const int32_t centre = 1792 - 86;
  EXPECT_NEAR((f.left + f.right) / 2.0, centre, 4);
  EXPECT_NEAR(f.right - f.left + 1, FigureWidth(95), 6);
  // The figure starts at row 15 (the cell's top) and the glyphs lie below it.
  for (int32_t x = 1792 - 172; x < 1792; ++x) EXPECT_EQ(PanelPixel(x, 15), clFuchsia) << x;
}

TEST_F(VolPanel, ZeroShowsOnlyDotsAndTheFigureZeroPercent) {
  Paint(1792, 0);
  Row r = ReadRow();
  EXPECT_TRUE(r.lit.empty());
  EXPECT_EQ(r.dots.size(), 81u);
  Figure f = ReadFigure(kSkyBlue);
  EXPECT_NEAR(f.right - f.left + 1, FigureWidth(0), 6);
}

TEST_F(VolPanel, MutedShowsLightRedDotsFigureAndTheCrossedOutSpeaker) {
  Paint(1792, 70, /*mute=*/true);
  Row r = ReadRow(clYellow, kLightRed);
  EXPECT_TRUE(r.lit.empty());
  EXPECT_EQ(r.dots.size(), 81u);
  Figure f = ReadFigure(kLightRed);
  EXPECT_GT(f.fill, 1000);
  EXPECT_EQ(f.other, 0);
  EXPECT_FALSE(form->Image1->Visible());
  EXPECT_TRUE(form->imgMute->Visible());
  // The frame shows the muted picture: its red cross is in the left panel.
  int red = 0;
  for (int32_t y = 0; y < 106; ++y)
    for (int32_t x = 0; x < 128; ++x) red += form->Frame().Pixel(x, y) == clRed;
  EXPECT_GT(red, 100);

  ShowOverlay(70, false);
  EXPECT_TRUE(form->Image1->Visible());
  EXPECT_FALSE(form->imgMute->Visible());
  EXPECT_EQ(ReadRow().lit, Positions(10, 1130));  // Round(1620 * 70 / 100) = 1134
}

TEST_F(VolPanel, CaptureDeviceShowsTheMicrophoneStruckThroughWhenMuted) {
  // Frame pixels of the picture panel (the picture stands at 24, 5): the microphone's stand, the
  // speaker's outer wave, and the middle of the microphone's strike-through (inside the
  // speaker's body).
  const TColor light = RGB(240, 240, 240);
  struct Case {
    bool capture, mute;
    const char* picture;
    TColor stand, wave, strike;
  } cases[] = {
      {false, false, "SPEAKER", clFuchsia, light, light},
      {true, false, "MICROPHONE", light, clFuchsia, light},
      {true, true, "MICROPHONEMUTE", light, clFuchsia, clRed},
      {false, true, "SPEAKERMUTE", clFuchsia, clFuchsia, light},
  };
  MakeForm(1920, "bottom:40");
  for (const Case& c : cases) {
    form->ShowCapture(c.capture);
    ShowOverlay(50, c.mute);
    const TImage* shown = c.mute ? form->imgMute : form->Image1;
    EXPECT_TRUE(shown->Visible()) << c.picture;
    EXPECT_EQ(shown->Picture(), c.picture);
    EXPECT_EQ(form->Frame().Pixel(24 + 48, 5 + 86), c.stand) << c.picture;
    EXPECT_EQ(form->Frame().Pixel(24 + 90, 5 + 48), c.wave) << c.picture;
    EXPECT_EQ(form->Frame().Pixel(24 + 49, 5 + 50), c.strike) << c.picture;
  }
  // The frame as it is shown: the microphone opaque, the key colour around it see-through.
  form->ShowCapture(true);
  ShowOverlay(50);
  TBitmap shown = form->TranslucentFrame();
  EXPECT_EQ(shown.Alpha(24 + 48, 5 + 86), 255);
  EXPECT_EQ(shown.Alpha(24 + 90, 5 + 48), 0);
}

TEST_F(VolPanel, ValuesOutsideTheRangeArePaintedUnchanged) {
  Paint(1792, -5);
  Row r = ReadRow();
  EXPECT_TRUE(r.lit.empty());
  Figure neg = ReadFigure(kSkyBlue);
  EXPECT_NEAR(neg.right - neg.left + 1, FigureWidth(-5), 6);
  EXPECT_GT(FigureWidth(-5), FigureWidth(5));  // the minus sign is there

  ShowOverlay(250);
  r = ReadRow();
  EXPECT_EQ(r.lit.size(), 81u);
  EXPECT_EQ(r.red, Positions(1470, 1610));

  // A huge value must not wrap around in the bar arithmetic. (Its wide figure covers the last
  // positions, so only those left of it are read.)
  ShowOverlay(2000000000);
  for (int32_t x = 10; x <= 1450; x += 20) EXPECT_EQ(PanelPixel(x + 5, 30), clYellow) << x;
  EXPECT_EQ(PanelPixel(1475, 30), clRed);
}

TEST_F(VolPanel, ColoursComeFromTheFormAtEachPaint) {
  Paint(1792, 50);
  const TColor bars = RGB(0, 200, 0), dots = RGB(10, 20, 30);
  form->barsColor = bars;
  form->dotsColor = dots;
  EXPECT_EQ(PanelPixel(15, 30), clYellow);  // no repaint asked for yet
  form->pnlVol->Repaint();
  Row r = ReadRow(bars, dots);
  EXPECT_EQ(r.lit.size(), 40u);
  EXPECT_EQ(r.dots.size(), 41u);
}

TEST_F(VolPanel, KeyColourIsSeeThroughAndBarsAreOpaqueInTheShownFrame) {
  Paint(1792, 50);
  TBitmap shown = form->TranslucentFrame();
  EXPECT_EQ(shown.Alpha(128 + 15, 30), 255);   // a lit bar
  EXPECT_EQ(shown.Alpha(128 + 15, 5), 0);      // above it: the key colour
  EXPECT_EQ(shown.Alpha(2, 2), 0);             // the picture panel's background
  EXPECT_EQ(shown.Alpha(128 + 40, 52), 0);     // the gap between two bars
  EXPECT_EQ(shown.Alpha(128 + 815, 52), 255);  // a dot
  EXPECT_EQ(shown.Pixel(128 + 815, 52), clWhite);
}

}  // namespace
