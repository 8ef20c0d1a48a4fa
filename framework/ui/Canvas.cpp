// The canvas over a Cairo context. Shapes are drawn without antialiasing so that the pixels
// match the host's GDI (and colour keys stay exact); plain text is smoothed.
#include <cairo.h>

#include <algorithm>
#include <cmath>

#include <qx/framework/ui/CairoColor.h>
#include <qx/framework/ui/CanvasFastPaths.h>
#include <qx/framework/ui/Graphics.h>

struct HDC__ {
  TCanvas* Canvas;
};

struct TCanvas::TRecordedPath {
  cairo_path_t* Path = nullptr;  // set when the path is closed
  // The text written into it, glyph by glyph, while nothing but text was.
  std::vector<canvas_fast::TGlyphRun> Runs;
  bool TextOnly = true;
  ~TRecordedPath() {
    if (Path != nullptr) cairo_path_destroy(Path);
  }
};

namespace {

// Measuring needs a context even when the canvas is not bound to one.
cairo_t* MeasureContext() {
  static cairo_t* cr = [] {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* c = cairo_create(s);
    cairo_surface_destroy(s);
    return c;
  }();
  return cr;
}

void ApplyFont(cairo_t* cr, const TFont& font) {
  cairo_select_font_face(
      cr, font.Name.c_str(),
      (font.Style & fsItalic) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
      (font.Style & fsBold) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, font.PixelSize());
  // Whole-pixel advances, like the host's text metrics.
  static cairo_font_options_t* options = [] {
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
    return o;
  }();
  cairo_set_font_options(cr, options);
}

}  // namespace

void TFont::Assign(const TPersistent* source) {
  if (auto* f = dynamic_cast<const TFont*>(source)) {
    Name = f->Name;
    Size = f->Size;
    Style = f->Style;
    Color = f->Color;
    return;
  }
  TPersistent::Assign(source);
}

void TPen::Assign(const TPersistent* source) {
  if (auto* p = dynamic_cast<const TPen*>(source)) {
    Color = p->Color;
    Width = p->Width;
    Style = p->Style;
    return;
  }
  TPersistent::Assign(source);
}

void TBrush::Assign(const TPersistent* source) {
  if (auto* b = dynamic_cast<const TBrush*>(source)) {
    Color = b->Color;
    Style = b->Style;
    return;
  }
  TPersistent::Assign(source);
}

TCanvas::TCanvas() : FDC(std::make_unique<HDC__>(HDC__{this})) {}
TCanvas::~TCanvas() = default;

void TCanvas::Bind(_cairo* cr) {
  FCr = cr;
  FPixels.reset();
  FPathOpen = false;
  FPath.reset();
}

const canvas_fast::TPixelTarget& TCanvas::PixelTarget() {
  if (!FPixels)
    FPixels = std::make_unique<canvas_fast::TPixelTarget>(canvas_fast::ProbePixelTarget(FCr));
  return *FPixels;
}

HDC TCanvas::Handle() {
  return FDC.get();
}

TCanvas* TCanvas::FromHandle(HDC dc) {
  return dc != nullptr ? dc->Canvas : nullptr;
}

void TCanvas::SetColor(TColor c) {
  SetCairoSource(FCr, c);
}

void TCanvas::SelectFont() {
  ApplyFont(FCr != nullptr ? FCr : MeasureContext(), FFont);
}

void TCanvas::Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (FPathOpen) FPath->TextOnly = false;
  if (FCr == nullptr) return;
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (FPathOpen) {
    cairo_rectangle(FCr, x1, y1, x2 - x1, y2 - y1);
    return;
  }
  // The outline covers the rectangle's outermost pixels, so it is the outer box in the pen with
  // the inner box in the brush on top, or the ring between them without a brush. Boxes of
  // whole pixels go straight into the pixels where they can: Cairo's fill costs far more per
  // call than the few hundred pixels of a bar.
  const int32_t w = FPen.Width;
  const bool outline = FPen.Style == psSolid && w > 0 && x2 - x1 >= w && y2 - y1 >= w;
  const bool fill = FBrush.Style == bsSolid;
  const bool inner = x2 - x1 > 2 * w && y2 - y1 > 2 * w;
  const canvas_fast::TPixelTarget& direct = PixelTarget();
  if (direct.Usable) {
    if (outline && inner) {
      // The ring as four bands, each pixel written once.
      canvas_fast::FillBox(direct, FCr, x1, y1, x2, y1 + w, FPen.Color);
      canvas_fast::FillBox(direct, FCr, x1, y2 - w, x2, y2, FPen.Color);
      canvas_fast::FillBox(direct, FCr, x1, y1 + w, x1 + w, y2 - w, FPen.Color);
      canvas_fast::FillBox(direct, FCr, x2 - w, y1 + w, x2, y2 - w, FPen.Color);
    } else if (outline) {
      canvas_fast::FillBox(direct, FCr, x1, y1, x2, y2, FPen.Color);
    }
    if (fill && (!outline || inner)) {
      const int32_t in = outline ? w : 0;
      canvas_fast::FillBox(direct, FCr, x1 + in, y1 + in, x2 - in, y2 - in, FBrush.Color);
    }
    return;
  }
  cairo_save(FCr);
  cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
  if (outline) {
    SetColor(FPen.Color);
    cairo_rectangle(FCr, x1, y1, x2 - x1, y2 - y1);
    if (!fill && inner) {
      cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_EVEN_ODD);
      cairo_rectangle(FCr, x1 + w, y1 + w, (x2 - x1) - 2 * w, (y2 - y1) - 2 * w);
    }
    cairo_fill(FCr);
    if (fill && inner) {
      SetColor(FBrush.Color);
      cairo_rectangle(FCr, x1 + w, y1 + w, (x2 - x1) - 2 * w, (y2 - y1) - 2 * w);
      cairo_fill(FCr);
    }
  } else if (fill) {
    SetColor(FBrush.Color);
    cairo_rectangle(FCr, x1, y1, x2 - x1, y2 - y1);
    cairo_fill(FCr);
  }
  cairo_restore(FCr);
}

void TCanvas::FillRect(const TRect& r) {
  if (FCr == nullptr || FBrush.Style != bsSolid || r.IsEmpty()) return;
  cairo_save(FCr);
  cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
  SetColor(FBrush.Color);
  cairo_rectangle(FCr, r.Left, r.Top, r.Width(), r.Height());
  cairo_fill(FCr);
  cairo_restore(FCr);
}

void TCanvas::FillAndStroke() {
  cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_EVEN_ODD);
  if (FBrush.Style == bsSolid) {
    SetColor(FBrush.Color);
    cairo_fill_preserve(FCr);
  }
  if (FPen.Style == psSolid && FPen.Width > 0) {
    SetColor(FPen.Color);
    cairo_set_line_width(FCr, FPen.Width);
    cairo_set_line_join(FCr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke_preserve(FCr);
  }
  cairo_new_path(FCr);
}

void TCanvas::Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (FPathOpen) FPath->TextOnly = false;
  if (FCr == nullptr || x1 == x2 || y1 == y2) return;
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  double inset = FPen.Style == psSolid ? FPen.Width / 2.0 : 0.0;
  double rx = (x2 - x1) / 2.0 - inset, ry = (y2 - y1) / 2.0 - inset;
  if (rx <= 0 || ry <= 0) return;
  if (!FPathOpen) {
    cairo_save(FCr);
    cairo_new_path(FCr);
  }
  cairo_save(FCr);
  cairo_translate(FCr, (x1 + x2) / 2.0, (y1 + y2) / 2.0);
  cairo_scale(FCr, rx, ry);
  cairo_new_sub_path(FCr);
  cairo_arc(FCr, 0, 0, 1, 0, 2 * M_PI);
  cairo_close_path(FCr);
  cairo_restore(FCr);
  if (FPathOpen) return;
  FillAndStroke();
  cairo_restore(FCr);
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  if (FPathOpen) FPath->TextOnly = false;
  if (FCr == nullptr || points.size() < 2) return;
  if (!FPathOpen) {
    cairo_save(FCr);
    cairo_new_path(FCr);
  }
  // Pixel centres, so that one-pixel outlines fall on whole pixels.
  cairo_move_to(FCr, points[0].X + 0.5, points[0].Y + 0.5);
  for (size_t i = 1; i < points.size(); ++i)
    cairo_line_to(FCr, points[i].X + 0.5, points[i].Y + 0.5);
  cairo_close_path(FCr);
  if (FPathOpen) return;
  FillAndStroke();
  cairo_restore(FCr);
}

void TCanvas::Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3,
                  int32_t x4, int32_t y4) {
  if (FPathOpen) FPath->TextOnly = false;
  if (FCr == nullptr || x1 == x2 || y1 == y2) return;
  double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
  double rx = std::abs(x2 - x1) / 2.0, ry = std::abs(y2 - y1) / 2.0;
  double a1 = std::atan2((y3 - cy) / ry, (x3 - cx) / rx);
  double a2 = std::atan2((y4 - cy) / ry, (x4 - cx) / rx);
  if (!FPathOpen) {
    if (FPen.Style != psSolid || FPen.Width <= 0) return;
    cairo_save(FCr);
    cairo_new_path(FCr);
  }
  cairo_save(FCr);
  cairo_translate(FCr, cx, cy);
  cairo_scale(FCr, rx, ry);
  cairo_new_sub_path(FCr);
  // Counter-clockwise on the screen, where y grows downwards.
  cairo_arc_negative(FCr, 0, 0, 1, a1, a2);
  cairo_restore(FCr);
  if (FPathOpen) return;
  cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
  SetColor(FPen.Color);
  cairo_set_line_width(FCr, FPen.Width);
  cairo_set_line_cap(FCr, FPen.Width > 1 ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_stroke(FCr);
  cairo_restore(FCr);
}

void TCanvas::MoveTo(int32_t x, int32_t y) {
  if (FPathOpen) FPath->TextOnly = false;
  FPenPos = {x, y};
  if (FCr != nullptr && FPathOpen) cairo_move_to(FCr, x, y);
}

void TCanvas::LineTo(int32_t x, int32_t y) {
  if (FPathOpen) FPath->TextOnly = false;
  if (FCr != nullptr) {
    if (FPathOpen) {
      if (!cairo_has_current_point(FCr)) cairo_move_to(FCr, FPenPos.X, FPenPos.Y);
      cairo_line_to(FCr, x, y);
    } else if (FPen.Style == psSolid && FPen.Width > 0) {
      cairo_save(FCr);
      cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
      SetColor(FPen.Color);
      cairo_set_line_width(FCr, FPen.Width);
      cairo_set_line_cap(FCr, FPen.Width > 1 ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_SQUARE);
      cairo_move_to(FCr, FPenPos.X + 0.5, FPenPos.Y + 0.5);
      cairo_line_to(FCr, x + 0.5, y + 0.5);
      cairo_stroke(FCr);
      cairo_restore(FCr);
    }
  }
  FPenPos = {x, y};
}

void TCanvas::AddTextPath(int32_t x, int32_t y, const String& text) {
  cairo_font_extents_t fe;
  cairo_font_extents(FCr, &fe);
  if (FBkMode == OPAQUE) {
    // An opaque background puts the character cell into the path as well.
    FPath->TextOnly = false;
    cairo_text_extents_t te;
    cairo_text_extents(FCr, text.c_str(), &te);
    cairo_rectangle(FCr, x, y, std::round(te.x_advance), std::round(fe.ascent + fe.descent));
  }
  canvas_fast::TGlyphRun run(cairo_get_scaled_font(FCr), FFont.Name + '\n' + IntToStr(FFont.Style) +
                                                             '\n' + IntToStr(FFont.Size));
  if (!run.Convert(x, y + std::round(fe.ascent), text)) {
    FPath->TextOnly = false;
    cairo_move_to(FCr, x, y + std::round(fe.ascent));
    cairo_text_path(FCr, text.c_str());
    return;
  }
  cairo_glyph_path(FCr, run.Glyphs.data(), static_cast<int>(run.Glyphs.size()));
  FPath->Runs.push_back(std::move(run));
}

void TCanvas::TextOut(int32_t x, int32_t y, const String& text) {
  if (FCr == nullptr) return;
  if (FPathOpen) {
    SelectFont();
    AddTextPath(x, y, text);
    return;
  }
  cairo_save(FCr);
  SelectFont();
  cairo_font_extents_t fe;
  cairo_font_extents(FCr, &fe);
  if (FBkMode == OPAQUE && FBrush.Style == bsSolid) {
    cairo_text_extents_t te;
    cairo_text_extents(FCr, text.c_str(), &te);
    SetColor(FBrush.Color);
    cairo_rectangle(FCr, x, y, std::round(te.x_advance), std::round(fe.ascent + fe.descent));
    cairo_fill(FCr);
  }
  SetColor(FFont.Color);
  cairo_move_to(FCr, x, y + std::round(fe.ascent));
  cairo_show_text(FCr, text.c_str());
  cairo_restore(FCr);
}

int32_t TCanvas::TextWidth(const String& text) {
  cairo_t* cr = FCr != nullptr ? FCr : MeasureContext();
  cairo_save(cr);
  ApplyFont(cr, FFont);
  cairo_text_extents_t te;
  cairo_text_extents(cr, text.c_str(), &te);
  cairo_restore(cr);
  return static_cast<int32_t>(std::lround(te.x_advance));
}

int32_t TCanvas::TextHeight(const String&) {
  cairo_t* cr = FCr != nullptr ? FCr : MeasureContext();
  cairo_save(cr);
  ApplyFont(cr, FFont);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_restore(cr);
  return static_cast<int32_t>(std::lround(fe.ascent) + std::lround(fe.descent));
}

void TCanvas::Draw(int32_t x, int32_t y, const TBitmap& bitmap) {
  if (FCr == nullptr || bitmap.Empty() || FPathOpen) return;
  cairo_save(FCr);
  cairo_set_source_surface(FCr, bitmap.Surface(), x, y);
  cairo_paint(FCr);
  cairo_restore(FCr);
}

int TCanvas::SetBkMode(int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  int previous = FBkMode;
  FBkMode = mode;
  return previous;
}

bool TCanvas::BeginPath() {
  if (FCr == nullptr) return false;
  FPath = std::make_unique<TRecordedPath>();
  cairo_new_path(FCr);
  FPathOpen = true;
  return true;
}

bool TCanvas::EndPath() {
  if (FCr == nullptr || !FPathOpen) return false;
  FPathOpen = false;
  FPath->Path = cairo_copy_path(FCr);
  cairo_new_path(FCr);
  return true;
}

bool TCanvas::StrokeAndFillPath() {
  if (FCr == nullptr || FPathOpen || !FPath || FPath->Path == nullptr) return false;
  canvas_fast::TPathPaint paint;
  paint.Fill = FBrush.Style == bsSolid;
  paint.Brush = FBrush.Color;
  paint.Stroke = FPen.Style == psSolid && FPen.Width > 0;
  paint.Pen = FPen.Color;
  paint.PenWidth = FPen.Width;
  // Text alone, the overlay's figure, is painted from glyphs kept between paints: stroking
  // glyph outlines anew is most of a frame's cost.
  if (!FPath->TextOnly || !canvas_fast::PaintGlyphsCached(FCr, FPath->Runs, paint)) {
    cairo_save(FCr);
    cairo_new_path(FCr);
    cairo_append_path(FCr, FPath->Path);
    cairo_close_path(FCr);
    cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
    cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_EVEN_ODD);
    if (paint.Fill) {
      SetColor(FBrush.Color);
      cairo_fill_preserve(FCr);
    }
    if (paint.Stroke) {
      SetColor(FPen.Color);
      cairo_set_line_width(FCr, FPen.Width);
      cairo_stroke_preserve(FCr);
    }
    cairo_new_path(FCr);
    cairo_restore(FCr);
  }
  FPath.reset();
  return true;
}
