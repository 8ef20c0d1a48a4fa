// The canvas and bitmaps: pixel-exact shapes with the exclusive right/bottom edge, colour byte
// order, text measuring, glyph paths with and without the character cells, PNG files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/framework/ui/Graphics.h>

namespace {

int CountColor(const TBitmap& b, TRect r, TColor c) {
  int n = 0;
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) n += b.Pixel(x, y) == c;
  return n;
}

TEST(UiCanvas, RectangleOutlinesInPenAndFillsInBrushWithoutRightAndBottomEdge) {
  TBitmap b(40, 40);
  b.Clear(clFuchsia);
  TCanvas* c = b.Canvas();
  c->Pen()->Color = clBlack;
  c->Brush()->Color = RGB(255, 255, 0);
  c->Rectangle(10, 20, 20, 30);
  // Outline on the outermost pixels: columns 10 and 19, rows 20 and 29.
  EXPECT_EQ(b.Pixel(10, 25), clBlack);
  EXPECT_EQ(b.Pixel(19, 25), clBlack);
  EXPECT_EQ(b.Pixel(15, 20), clBlack);
  EXPECT_EQ(b.Pixel(15, 29), clBlack);
  EXPECT_EQ(b.Pixel(11, 21), clYellow);
  EXPECT_EQ(b.Pixel(18, 28), clYellow);
  // Nothing on the right and bottom edge coordinates themselves.
  EXPECT_EQ(b.Pixel(20, 25), clFuchsia);
  EXPECT_EQ(b.Pixel(15, 30), clFuchsia);
  EXPECT_EQ(b.Pixel(9, 25), clFuchsia);
  EXPECT_EQ(CountColor(b, {0, 0, 40, 40}, clBlack), 2 * 10 + 2 * 8);
  EXPECT_EQ(CountColor(b, {0, 0, 40, 40}, clYellow), 8 * 8);
}

TEST(UiCanvas, ColoursUseBlueGreenRedByteOrder) {
  EXPECT_EQ(RGB(255, 0, 0), 0x0000FF);
  EXPECT_EQ(RGB(166, 202, 240), 0xF0CAA6);
  TBitmap b(2, 1);
  b.Canvas()->Brush()->Color = 0xF0CAA6;
  b.Canvas()->FillRect({0, 0, 1, 1});
  EXPECT_EQ(b.Pixel(0, 0), RGB(166, 202, 240));
  EXPECT_EQ(b.Alpha(1, 0), 0);        // left alone
  EXPECT_EQ(b.Pixel(5, 5), clBlack);  // outside: harmless
}

TEST(UiCanvas, TextWidthScalesWithPointSizeAt96Dpi) {
  TCanvas c;  // measuring needs no surface
  c.Font()->Name = "ARIAL";
  c.Font()->Size = 48;
  c.Font()->Style = fsBold;
  EXPECT_DOUBLE_EQ(c.Font()->PixelSize(), 64.0);
  int32_t w100 = c.TextWidth("100%");
  int32_t w5 = c.TextWidth("5%");
  // Liberation Sans Bold (Arial's metrics): digits are 0.556 em, '%' 0.889 em.
  EXPECT_NEAR(w100, 3 * 36 + 57, 4);
  EXPECT_LT(w5, w100);
  c.Font()->Size = 24;
  EXPECT_NEAR(c.TextWidth("100%"), w100 / 2, 3);
  EXPECT_EQ(c.TextWidth(""), 0);
}

class UiCanvasPath : public ::testing::Test {
 protected:
  void SetUp() override {
    b.SetSize(200, 100);
    b.Clear(clFuchsia);
    c = b.Canvas();
    c->Font()->Name = "ARIAL";
    c->Font()->Size = 48;
    c->Font()->Style = fsBold;
    c->Brush()->Color = 0xF0CAA6;
    c->Pen()->Color = clBlack;
  }
  void OutlinedText(int mode) {
    c->SetBkMode(mode);
    ASSERT_TRUE(c->BeginPath());
    c->TextOut(10, 10, "80");
    ASSERT_TRUE(c->EndPath());
    ASSERT_TRUE(c->StrokeAndFillPath());
  }
  TBitmap b;
  TCanvas* c = nullptr;
};

TEST_F(UiCanvasPath, TransparentModeFillsAndOutlinesOnlyTheGlyphs) {
  OutlinedText(TRANSPARENT);
  TRect cell{10, 10, 10 + c->TextWidth("80"), 10 + c->TextHeight("80")};
  int fill = CountColor(b, cell, 0xF0CAA6), outline = CountColor(b, cell, clBlack);
  int background = CountColor(b, cell, clFuchsia);
  EXPECT_GT(fill, 600);
  EXPECT_GT(outline, 150);
  // The cell's corners and the holes of the digits stay in the background colour.
  EXPECT_GT(background, fill / 2);
  EXPECT_EQ(b.Pixel(cell.Left, cell.Top), clFuchsia);
  // Hard edges: the glyphs consist of the three colours only.
  EXPECT_EQ(fill + outline + background, cell.Width() * cell.Height());
  // Nothing left of the text.
  EXPECT_EQ(CountColor(b, {0, 0, 9, 100}, clFuchsia), 9 * 100);
}

TEST_F(UiCanvasPath, OpaqueModePutsTheCharacterCellsIntoThePath) {
  OutlinedText(OPAQUE);
  TRect cell{10, 10, 10 + c->TextWidth("80"), 10 + c->TextHeight("80")};
  // The whole cell is covered: its corner no longer shows the background.
  EXPECT_NE(b.Pixel(cell.Left, cell.Top), clFuchsia);
  EXPECT_EQ(b.Pixel(cell.Left + 2, cell.Top + 2), 0xF0CAA6);
  EXPECT_EQ(b.Pixel(cell.Left - 1, cell.Top + 5), clBlack);
}

TEST_F(UiCanvasPath, PathCallsOutOfOrderFailWithoutDrawing) {
  EXPECT_FALSE(c->EndPath());            // nothing open
  EXPECT_FALSE(c->StrokeAndFillPath());  // nothing closed
  ASSERT_TRUE(c->BeginPath());
  c->Rectangle(5, 5, 50, 50);  // only outlines the path while it is open
  EXPECT_FALSE(c->StrokeAndFillPath());
  EXPECT_EQ(CountColor(b, {0, 0, 200, 100}, clFuchsia), 200 * 100);
  EXPECT_EQ(c->SetBkMode(7), 0);  // not a mode
  EXPECT_EQ(TCanvas::FromHandle(c->Handle()), c);
  EXPECT_EQ(TCanvas::FromHandle(nullptr), nullptr);
}

TEST(UiBitmap, PngRoundTripKeepsColoursAndAlpha) {
  TBitmap b(3, 2);
  b.SetPixel(0, 0, RGB(10, 200, 30));
  b.SetPixel(1, 0, clWhite, 128);
  auto path = std::filesystem::temp_directory_path() / "qx_ui_bitmap_test.png";
  ASSERT_TRUE(b.SaveToFile(path.string()));
  TBitmap r;
  ASSERT_TRUE(r.LoadFromFile(path.string()));
  std::filesystem::remove(path);
  EXPECT_EQ(r.Width(), 3);
  EXPECT_EQ(r.Height(), 2);
  EXPECT_EQ(r.Pixel(0, 0), RGB(10, 200, 30));
  EXPECT_EQ(r.Alpha(1, 0), 128);
  EXPECT_EQ(r.Alpha(2, 1), 0);
  EXPECT_FALSE(r.LoadFromFile("/nonexistent/none.png"));
  EXPECT_EQ(r.Width(), 3);  // unchanged
}

TEST(UiBitmap, CopiesAreIndependentAndEmptyBitmapsAreHarmless) {
  TBitmap a(4, 4);
  a.Clear(clRed);
  TBitmap b = a;
  b.Clear(clBlue);
  EXPECT_EQ(a.Pixel(1, 1), clRed);
  EXPECT_EQ(b.Pixel(1, 1), clBlue);
  TBitmap e;
  EXPECT_TRUE(e.Empty());
  e.Canvas()->Rectangle(0, 0, 10, 10);  // no surface: nothing happens
  EXPECT_FALSE(e.SaveToFile("/tmp/never.png"));
  TBitmap moved = std::move(a);
  EXPECT_EQ(moved.Pixel(0, 0), clRed);
  EXPECT_TRUE(a.Empty());
}

}  // namespace
