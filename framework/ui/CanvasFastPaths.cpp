#include <qx/framework/ui/CanvasFastPaths.h>

#include <qx/framework/ui/CairoColor.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace canvas_fast {

namespace {

bool Whole(double v) {
  return std::floor(v) == v && std::abs(v) < 1e7;
}

// A move by whole pixels and nothing else: what keeps pixels the same when shapes move.
bool WholePixelMove(const cairo_matrix_t& m) {
  return m.xx == 1 && m.yy == 1 && m.xy == 0 && m.yx == 0 && Whole(m.x0) && Whole(m.y0);
}

uint32_t OpaquePixel(TColor c) {
  return 0xFF000000u | (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) |
         uint32_t(GetBValue(c));
}

}  // namespace

TPixelTarget ProbePixelTarget(cairo_t* cr) {
  TPixelTarget t;
  if (cr == nullptr || cairo_status(cr) != CAIRO_STATUS_SUCCESS) return t;
  cairo_surface_t* s = cairo_get_target(cr);
  // Inside a pushed group the drawing lands elsewhere than the target.
  if (cairo_get_group_target(cr) != s || cairo_surface_get_type(s) != CAIRO_SURFACE_TYPE_IMAGE)
    return t;
  const cairo_format_t format = cairo_image_surface_get_format(s);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return t;
  double dx = 0, dy = 0, sx = 1, sy = 1;
  cairo_surface_get_device_offset(s, &dx, &dy);
  cairo_surface_get_device_scale(s, &sx, &sy);
  if (dx != 0 || dy != 0 || sx != 1 || sy != 1) return t;
  const cairo_operator_t op = cairo_get_operator(cr);
  if (op != CAIRO_OPERATOR_OVER && op != CAIRO_OPERATOR_SOURCE) return t;
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  if (!WholePixelMove(m)) return t;

  cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr);
  const bool one = clip->status == CAIRO_STATUS_SUCCESS && clip->num_rectangles <= 1;
  int l = 0, tp = 0, r = 0, b = 0;
  if (one && clip->num_rectangles == 1) {
    const cairo_rectangle_t& c = clip->rectangles[0];
    if (Whole(c.x) && Whole(c.y) && Whole(c.width) && Whole(c.height)) {
      l = int(c.x + m.x0);
      tp = int(c.y + m.y0);
      r = l + int(c.width);
      b = tp + int(c.height);
    } else {
      cairo_rectangle_list_destroy(clip);
      return t;
    }
  }
  cairo_rectangle_list_destroy(clip);
  if (!one) return t;

  cairo_surface_flush(s);
  t.Data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
  if (t.Data == nullptr) return t;
  t.Stride = cairo_image_surface_get_stride(s) / 4;
  t.OffsetX = int(m.x0);
  t.OffsetY = int(m.y0);
  t.ClipLeft = std::max(l, 0);
  t.ClipTop = std::max(tp, 0);
  t.ClipRight = std::min(r, cairo_image_surface_get_width(s));
  t.ClipBottom = std::min(b, cairo_image_surface_get_height(s));
  t.Usable = true;
  return t;
}

void FillBox(const TPixelTarget& t, cairo_t* cr, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
             TColor color) {
  const int64_t l = std::max<int64_t>(int64_t(x1) + t.OffsetX, t.ClipLeft);
  const int64_t r = std::min<int64_t>(int64_t(x2) + t.OffsetX, t.ClipRight);
  const int64_t top = std::max<int64_t>(int64_t(y1) + t.OffsetY, t.ClipTop);
  const int64_t b = std::min<int64_t>(int64_t(y2) + t.OffsetY, t.ClipBottom);
  if (l >= r || top >= b) return;
  const uint32_t px = OpaquePixel(color);
  for (int64_t y = top; y < b; ++y)
    std::fill(t.Data + y * t.Stride + l, t.Data + y * t.Stride + r, px);
  cairo_surface_mark_dirty_rectangle(cairo_get_target(cr), int(l), int(top), int(r - l),
                                     int(b - top));
}

// ---------------------------------------------------------------------------------------------

namespace {

// A glyph larger than this on the device is drawn the general way rather than kept.
constexpr int64_t kMaxPixels = 512 * 256;

template <class T>
void Put(std::string& key, const T& v) {
  key.append(reinterpret_cast<const char*>(&v), sizeof v);
}

}  // namespace

}  // namespace canvas_fast

// ---------------------------------------------------------------------------------------------

namespace canvas_fast {

TGlyphRun::TGlyphRun(cairo_scaled_font_t* font, String fontKey)
    : Font(cairo_scaled_font_reference(font)), FontKey(std::move(fontKey)) {}

TGlyphRun::TGlyphRun(TGlyphRun&& other) noexcept
    : Font(other.Font), FontKey(std::move(other.FontKey)), Glyphs(std::move(other.Glyphs)) {
  other.Font = nullptr;
}

TGlyphRun::~TGlyphRun() {
  if (Font != nullptr) cairo_scaled_font_destroy(Font);
}

bool TGlyphRun::Convert(double x, double y, const String& text) {
  cairo_glyph_t* glyphs = nullptr;
  int count = 0;
  if (cairo_scaled_font_status(Font) != CAIRO_STATUS_SUCCESS ||
      cairo_scaled_font_text_to_glyphs(Font, x, y, text.data(), int(text.size()), &glyphs, &count,
                                       nullptr, nullptr, nullptr) != CAIRO_STATUS_SUCCESS)
    return false;
  Glyphs.assign(glyphs, glyphs + count);
  cairo_glyph_free(glyphs);
  return true;
}

namespace {

// One glyph's interior and outline as A8 masks (0 or 255), placed relative to the glyph's
// origin, with the bounds of its interior for the overlap test.
struct TGlyphMasks {
  std::string Key;
  cairo_surface_t* Fill = nullptr;
  cairo_surface_t* Stroke = nullptr;
  int X = 0, Y = 0;                               // the masks' top-left corner from the origin
  double InkL = 0, InkT = 0, InkR = 0, InkB = 0;  // the interior's bounds from the origin
  bool Empty = false;
};

// The figures 0 to 9, a sign and a percent in a font or two: enough for every figure the
// overlay shows, and little memory (a few KiB a glyph).
constexpr size_t kGlyphEntries = 48;
// Text in a path longer than this is drawn the general way. Below the number of entries, so
// that no glyph of a path is dropped from the cache while that path is painted.
constexpr size_t kMaxGlyphs = 32;
static_assert(kMaxGlyphs < kGlyphEntries);

struct TGlyphCache {
  std::list<TGlyphMasks> Entries;  // most recently used first; entries stay where they are
  ~TGlyphCache() {
    for (auto& e : Entries) {
      cairo_surface_destroy(e.Fill);
      cairo_surface_destroy(e.Stroke);
    }
  }
};

TGlyphCache& GlyphCache() {
  thread_local TGlyphCache cache;
  return cache;
}

cairo_surface_t* MaskOf(cairo_scaled_font_t* font, unsigned long index, int x, int y, int w, int h,
                        bool stroke, int penWidth) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
  cairo_t* c = cairo_create(s);
  cairo_set_scaled_font(c, font);
  cairo_glyph_t g{index, double(-x), double(-y)};
  cairo_glyph_path(c, &g, 1);
  cairo_close_path(c);
  cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(c, CAIRO_FILL_RULE_EVEN_ODD);
  if (stroke) {
    cairo_set_line_width(c, penWidth);
    cairo_stroke(c);
  } else {
    cairo_fill(c);
  }
  const bool ok = cairo_status(c) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(c);
  if (!ok) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  return s;
}

const TGlyphMasks* Masks(const TGlyphRun& run, unsigned long index, int penWidth) {
  std::string key = run.FontKey;
  Put(key, index);
  Put(key, penWidth);
  auto& entries = GlyphCache().Entries;
  auto hit = std::find_if(entries.begin(), entries.end(),
                          [&](const TGlyphMasks& e) { return e.Key == key; });
  if (hit != entries.end()) {
    entries.splice(entries.begin(), entries, hit);
    return &entries.front();
  }
  TGlyphMasks m;
  m.Key = std::move(key);
  {
    cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* c = cairo_create(probe);
    cairo_surface_destroy(probe);
    cairo_set_scaled_font(c, run.Font);
    cairo_glyph_t g{index, 0, 0};
    cairo_glyph_path(c, &g, 1);
    cairo_path_extents(c, &m.InkL, &m.InkT, &m.InkR, &m.InkB);
    const double miter = cairo_get_miter_limit(c);
    const bool ok = cairo_status(c) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(c);
    if (!ok) return nullptr;
    m.Empty = !(m.InkR > m.InkL && m.InkB > m.InkT);
    if (!m.Empty) {
      const double reach = miter * penWidth / 2.0 + 1;
      m.X = int(std::floor(m.InkL - reach));
      m.Y = int(std::floor(m.InkT - reach));
      const int w = int(std::ceil(m.InkR + reach)) - m.X;
      const int h = int(std::ceil(m.InkB + reach)) - m.Y;
      if (int64_t(w) * h > kMaxPixels) return nullptr;
      m.Fill = MaskOf(run.Font, index, m.X, m.Y, w, h, false, penWidth);
      m.Stroke = MaskOf(run.Font, index, m.X, m.Y, w, h, true, penWidth);
      if (m.Fill == nullptr || m.Stroke == nullptr) {
        if (m.Fill != nullptr) cairo_surface_destroy(m.Fill);
        if (m.Stroke != nullptr) cairo_surface_destroy(m.Stroke);
        return nullptr;
      }
    }
  }
  if (entries.size() == kGlyphEntries) {
    cairo_surface_destroy(entries.back().Fill);
    cairo_surface_destroy(entries.back().Stroke);
    entries.pop_back();
  }
  entries.insert(entries.begin(), std::move(m));
  return &entries.front();
}

}  // namespace

bool PaintGlyphsCached(cairo_t* cr, const std::vector<TGlyphRun>& runs, const TPathPaint& paint) {
  if (cr == nullptr || cairo_get_operator(cr) != CAIRO_OPERATOR_OVER) return false;
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  if (!WholePixelMove(m)) return false;
  const int penWidth = paint.Stroke ? paint.PenWidth : 0;
  struct TPlaced {
    const TGlyphMasks* Masks;
    double X, Y;
  };
  std::vector<TPlaced> placed;
  for (const TGlyphRun& run : runs) {
    for (const cairo_glyph_t& g : run.Glyphs) {
      // The masks were made at the origin: only a whole-pixel move keeps every pixel.
      if (!Whole(g.x) || !Whole(g.y) || placed.size() == kMaxGlyphs) return false;
      const TGlyphMasks* masks = Masks(run, g.index, penWidth);
      if (masks == nullptr) return false;
      if (!masks->Empty) placed.push_back({masks, g.x, g.y});
    }
  }
  // Each glyph drawn on its own is the path drawn whole only while no two glyphs come near each
  // other: interiors must not overlap, and outlines that touch meet in ties that the whole path
  // settles otherwise. A gap of more than the pen between their interiors keeps them apart.
  const double gap = penWidth + 1;
  for (size_t i = 0; i < placed.size(); ++i)
    for (size_t j = i + 1; j < placed.size(); ++j) {
      const TPlaced& a = placed[i];
      const TPlaced& b = placed[j];
      if (a.X + a.Masks->InkL < b.X + b.Masks->InkR + gap &&
          b.X + b.Masks->InkL < a.X + a.Masks->InkR + gap &&
          a.Y + a.Masks->InkT < b.Y + b.Masks->InkB + gap &&
          b.Y + b.Masks->InkT < a.Y + a.Masks->InkB + gap)
        return false;
    }
  // Every interior first, then every outline on top, as the path's fill and stroke would.
  cairo_save(cr);
  if (paint.Fill) {
    SetCairoSource(cr, paint.Brush);
    for (const TPlaced& p : placed)
      cairo_mask_surface(cr, p.Masks->Fill, p.X + p.Masks->X, p.Y + p.Masks->Y);
  }
  if (paint.Stroke) {
    SetCairoSource(cr, paint.Pen);
    for (const TPlaced& p : placed)
      cairo_mask_surface(cr, p.Masks->Stroke, p.X + p.Masks->X, p.Y + p.Masks->Y);
  }
  cairo_restore(cr);
  return true;
}

}  // namespace canvas_fast
