// Drawing: fonts, pens, brushes, the canvas (over a Cairo context) and bitmaps (Cairo image
// surfaces). Coordinates are pixels; rectangles exclude their right and bottom edge.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <qx/framework/core/Classes.h>

struct _cairo;
struct _cairo_surface;

struct TPoint {
  int32_t X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

enum TFontStyle : uint32_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum TPenStyle : int32_t { psSolid, psClear };
enum TBrushStyle : int32_t { bsSolid, bsClear };

class TFont : public TPersistent {
 public:
  String Name = "Tahoma";
  // Points at 96 pixels per inch: the pixel size of the em is Size * 96 / 72.
  int32_t Size = 8;
  uint32_t Style = 0;  // TFontStyle flags
  TColor Color = clBlack;
  double PixelSize() const { return Size * 96.0 / 72.0; }
  void Assign(const TPersistent* source) override;
};

class TPen : public TPersistent {
 public:
  TColor Color = clBlack;
  int32_t Width = 1;
  TPenStyle Style = psSolid;
  void Assign(const TPersistent* source) override;
};

class TBrush : public TPersistent {
 public:
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
  void Assign(const TPersistent* source) override;
};

// The device context of a canvas, for the GDI-style calls (background mode, paths).
struct HDC__;
using HDC = HDC__*;

// Background modes of text output.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

namespace canvas_fast {
struct TPixelTarget;
}

class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;

  TFont* Font() { return &FFont; }
  TPen* Pen() { return &FPen; }
  TBrush* Brush() { return &FBrush; }

  // Outline in the pen, interior in the brush; covers x1..x2-1, y1..y2-1.
  void Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // Fills with the brush, no outline.
  void FillRect(const TRect& r);
  // Ellipse inside the rectangle: interior in the brush, outline in the pen.
  void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  // Closed polygon: interior in the brush (alternate rule), outline in the pen.
  void Polygon(const std::vector<TPoint>& points);
  // Part of the ellipse inside (x1, y1, x2, y2), drawn in the pen counter-clockwise from where
  // the ray to (x3, y3) crosses it to where the ray to (x4, y4) does.
  void Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t x4,
           int32_t y4);
  void MoveTo(int32_t x, int32_t y);
  void LineTo(int32_t x, int32_t y);
  // Text whose cell's top-left corner is (x, y), in the font's colour; with an opaque background
  // mode the cell is filled with the brush first.
  void TextOut(int32_t x, int32_t y, const String& text);
  int32_t TextWidth(const String& text);
  int32_t TextHeight(const String& text);
  // Draws a bitmap with its alpha at (x, y).
  void Draw(int32_t x, int32_t y, const class TBitmap& bitmap);

  // The device context for SetBkMode, BeginPath, EndPath, StrokeAndFillPath.
  HDC Handle();
  static TCanvas* FromHandle(HDC dc);

  // Device-context state behind the GDI-style calls.
  int BkMode() const { return FBkMode; }
  int SetBkMode(int mode);
  // While a path is open, TextOut, Rectangle and LineTo add outlines to it instead of drawing.
  bool BeginPath();
  bool EndPath();
  // Fills the closed path with the brush (alternate fill rule), then strokes it with the pen.
  bool StrokeAndFillPath();

  // Internal: the Cairo context the canvas draws into (not owned); nullptr detaches.
  void Bind(_cairo* cr);
  _cairo* Context() const { return FCr; }
  bool Bound() const { return FCr != nullptr; }

 private:
  void SelectFont();
  void SetColor(TColor c);
  // Fills the current Cairo path with the brush and strokes it with the pen, then clears it.
  void FillAndStroke();
  void AddTextPath(int32_t x, int32_t y, const String& text);
  TFont FFont;
  TPen FPen;
  TBrush FBrush;
  _cairo* FCr = nullptr;
  TPoint FPenPos;
  int FBkMode = OPAQUE;
  bool FPathOpen = false;
  struct TRecordedPath;
  std::unique_ptr<TRecordedPath> FPath;
  std::unique_ptr<HDC__> FDC;
  // Whether boxes may be written straight into the bound context's pixels; looked at once per
  // binding, on the first box.
  const canvas_fast::TPixelTarget& PixelTarget();
  std::unique_ptr<canvas_fast::TPixelTarget> FPixels;
};

// An image held in memory (32-bit with alpha, premultiplied like Cairo's).
class TBitmap : public TPersistent {
 public:
  TBitmap();
  TBitmap(int32_t width, int32_t height);
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);
  TBitmap(TBitmap&& other) noexcept;
  TBitmap& operator=(TBitmap&& other) noexcept;
  ~TBitmap() override;

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
  // Resizes; the content becomes fully transparent.
  void SetSize(int32_t width, int32_t height);
  // Every pixel set to the colour, opaque.
  void Clear(TColor color);
  // Every pixel fully transparent.
  void ClearTransparent();

  // The colour at (x, y) with its alpha undone; clBlack outside the bitmap.
  TColor Pixel(int32_t x, int32_t y) const;
  uint8_t Alpha(int32_t x, int32_t y) const;
  void SetPixel(int32_t x, int32_t y, TColor color, uint8_t alpha = 255);

  TCanvas* Canvas();
  // PNG files. Saving returns false on an I/O error; loading replaces the content or returns
  // false and leaves it unchanged.
  bool SaveToFile(const String& fileName) const;
  bool LoadFromFile(const String& fileName);
  void Assign(const TPersistent* source) override;

  // Internal: the Cairo surface (nullptr when empty).
  _cairo_surface* Surface() const { return FSurface; }
  // Raw rows (Cairo ARGB32, native endian), for back ends.
  const uint8_t* Data() const;
  int32_t Stride() const;

 private:
  void Release();
  int32_t FWidth = 0, FHeight = 0;
  _cairo_surface* FSurface = nullptr;
  _cairo* FCr = nullptr;
  std::unique_ptr<TCanvas> FCanvas;
};
