// Shortcuts the canvas takes where Cairo's general machinery costs far more than the pixels it
// touches: opaque whole-pixel boxes written straight into an image surface (exactly the pixels
// a fill gives), and outlined text painted from glyph masks kept between paints (the pixels of
// filling and stroking the text's path, but for the odd outline pixel where the rasteriser's
// rounding falls otherwise at another position). Where they cannot, they decline.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

#include <qx/framework/core/System.h>

namespace canvas_fast {

// Where a context's drawing lands, when it lands in plain pixels: an image surface, a
// translation by whole pixels and a clip that is one rectangle (all in device pixels).
struct TPixelTarget {
  bool Usable = false;
  uint32_t* Data = nullptr;
  int Stride = 0;  // in pixels
  int OffsetX = 0, OffsetY = 0;
  int ClipLeft = 0, ClipTop = 0, ClipRight = 0, ClipBottom = 0;
};

// Looks at the context as it stands; the canvas asks again whenever it is bound anew.
TPixelTarget ProbePixelTarget(cairo_t* cr);

// Fills x1..x2-1, y1..y2-1 (user space) with an opaque colour, clipped.
void FillBox(const TPixelTarget& t, cairo_t* cr, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
             TColor color);

// What a recorded path is painted with: its interior (alternate rule) in the brush when Fill,
// then its outline in the pen when Stroke, both without antialiasing.
struct TPathPaint {
  bool Fill = false;
  TColor Brush = 0;
  bool Stroke = false;
  TColor Pen = 0;
  int32_t PenWidth = 0;
};

// Text written into a path: its glyphs where the font put them (user space), and a key naming
// the font for the glyph cache.
struct TGlyphRun {
  TGlyphRun(cairo_scaled_font_t* font, String fontKey);
  TGlyphRun(TGlyphRun&& other) noexcept;
  TGlyphRun& operator=(TGlyphRun&&) = delete;
  ~TGlyphRun();
  // Lays out text with its baseline starting at (x, y); false when the font cannot.
  bool Convert(double x, double y, const String& text);

  cairo_scaled_font_t* Font;
  String FontKey;
  std::vector<cairo_glyph_t> Glyphs;
};

// Paints text that was the whole of a path glyph by glyph, each glyph's interior and outline
// kept as masks made once. Only where glyphs stand on whole pixels and keep apart; false
// otherwise, and the caller then draws the path itself.
bool PaintGlyphsCached(cairo_t* cr, const std::vector<TGlyphRun>& runs, const TPathPaint& paint);

}  // namespace canvas_fast
