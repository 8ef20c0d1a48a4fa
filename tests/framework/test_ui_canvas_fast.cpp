// The canvas's shortcuts (boxes written into the pixels, glyphs kept as masks) against Cairo
// drawing the same shapes the general way: every pixel of a box, all but a few ties of an
// outlined figure.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>

#include <qx/framework/ui/Graphics.h>

namespace {

void Source(cairo_t* cr, TColor c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

// The general way: the interior filled, the outline stroked on the outermost pixels.
void ReferenceRectangle(cairo_t* cr, int x1, int y1, int x2, int y2, int pen, bool brush) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  if (brush) {
    Source(cr, clYellow);
    cairo_rectangle(cr, x1, y1, x2 - x1, y2 - y1);
    cairo_fill(cr);
  }
  if (pen > 0 && x2 - x1 >= pen && y2 - y1 >= pen) {
    Source(cr, clBlack);
    cairo_set_line_width(cr, pen);
    cairo_rectangle(cr, x1 + pen / 2.0, y1 + pen / 2.0, (x2 - x1) - pen, (y2 - y1) - pen);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

void ReferenceOutlinedText(cairo_t* cr, int x, int y, const char* text, int points) {
  cairo_save(cr);
  cairo_select_font_face(cr, "ARIAL", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, points * 96.0 / 72.0);
  cairo_font_options_t* o = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, o);
  cairo_font_options_destroy(o);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_move_to(cr, x, y + std::round(fe.ascent));
  cairo_text_path(cr, text);
  cairo_close_path(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  Source(cr, 0xF0CAA6);
  cairo_fill_preserve(cr);
  Source(cr, clBlack);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_restore(cr);
}

int Differences(const TBitmap& a, const TBitmap& b) {
  int n = 0;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      n += a.Pixel(x, y) != b.Pixel(x, y) || a.Alpha(x, y) != b.Alpha(x, y);
  return n;
}

TEST(UiCanvasFast, RectanglesMatchTheGeneralDrawing) {
  struct Case {
    int x1, y1, x2, y2, pen;
    bool brush;
  } cases[] = {
      {10, 20, 20, 80, 1, true}, {10, 45, 20, 60, 1, true},   {5, 5, 12, 60, 1, true},
      {5, 5, 7, 7, 1, true},     {5, 5, 8, 8, 2, true},       {5, 5, 40, 30, 3, true},
      {40, 30, 5, 5, 1, true},   {5, 5, 40, 30, 1, false},    {5, 5, 9, 30, 2, false},
      {5, 5, 40, 30, 0, true},   {-10, -10, 15, 15, 1, true}, {90, 90, 130, 130, 1, true},
      {20, 20, 20, 40, 1, true},
  };
  for (const Case& k : cases) {
    TBitmap fast(100, 100), reference(100, 100);
    fast.Clear(clFuchsia);
    reference.Clear(clFuchsia);
    TCanvas* c = fast.Canvas();
    c->Pen()->Color = clBlack;
    c->Pen()->Width = k.pen;
    c->Pen()->Style = k.pen > 0 ? psSolid : psClear;
    c->Brush()->Color = clYellow;
    c->Brush()->Style = k.brush ? bsSolid : bsClear;
    c->Rectangle(k.x1, k.y1, k.x2, k.y2);
    ReferenceRectangle(reference.Canvas()->Context(), k.x1, k.y1, k.x2, k.y2, k.pen > 0 ? k.pen : 0,
                       k.brush);
    EXPECT_EQ(Differences(fast, reference), 0)
        << k.x1 << "," << k.y1 << "," << k.x2 << "," << k.y2 << " pen " << k.pen;
  }
}

// Every figure the overlay can show, at its size and two others; each painted twice, the
// second time from the kept glyphs.
TEST(UiCanvasFast, OutlinedFiguresMatchTheGeneralDrawingEachTimeTheyArePainted) {
  for (int points : {48, 24, 12}) {
    for (int figure = -100; figure <= 100; ++figure) {
      const String text = IntToStr(figure) + "%";
      TBitmap reference(260, 90);
      reference.Clear(clFuchsia);
      ReferenceOutlinedText(reference.Canvas()->Context(), 7, 15, text.c_str(), points);
      TBitmap first;
      for (int round = 0; round < 2; ++round) {
        TBitmap fast(260, 90);
        fast.Clear(clFuchsia);
        TCanvas* c = fast.Canvas();
        c->Font()->Name = "ARIAL";
        c->Font()->Style = fsBold;
        c->Font()->Size = points;
        c->Brush()->Color = 0xF0CAA6;
        c->Pen()->Color = clBlack;
        c->SetBkMode(TRANSPARENT);
        ASSERT_TRUE(c->BeginPath());
        c->TextOut(7, 15, text);
        ASSERT_TRUE(c->EndPath());
        ASSERT_TRUE(c->StrokeAndFillPath());
        // Outline pixels on a tie may fall otherwise than where Cairo strokes the whole path.
        EXPECT_LE(Differences(fast, reference), 4) << text << " at " << points;
        if (round == 0) {
          first = fast;
        } else {
          EXPECT_EQ(Differences(fast, first), 0) << text << " at " << points;
        }
      }
    }
  }
}

}  // namespace
