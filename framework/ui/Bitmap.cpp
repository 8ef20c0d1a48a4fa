// Bitmaps over Cairo image surfaces (ARGB32, premultiplied alpha).
#include <cairo.h>

#include <algorithm>
#include <cstring>

#include <qx/framework/ui/CairoColor.h>
#include <qx/framework/ui/Graphics.h>

namespace {

// Cairo caps image surfaces at 32767 pixels a side.
constexpr int32_t kMaxSide = 32767;

cairo_surface_t* NewSurface(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return nullptr;
  if (w > kMaxSide || h > kMaxSide) throw Exception("bitmap too large");
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    throw Exception("out of memory for a bitmap");
  }
  return s;
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int32_t width, int32_t height) {
  SetSize(width, height);
}

TBitmap::TBitmap(const TBitmap& other) : TPersistent() {
  Assign(&other);
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this != &other) Assign(&other);
  return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept : TPersistent() {
  *this = std::move(other);
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
  if (this == &other) return *this;
  Release();
  FWidth = std::exchange(other.FWidth, 0);
  FHeight = std::exchange(other.FHeight, 0);
  FSurface = std::exchange(other.FSurface, nullptr);
  FCr = std::exchange(other.FCr, nullptr);
  if (other.FCanvas) other.FCanvas->Bind(nullptr);
  if (FCanvas) FCanvas->Bind(FCr);
  return *this;
}

TBitmap::~TBitmap() {
  Release();
}

void TBitmap::Release() {
  if (FCanvas) FCanvas->Bind(nullptr);
  if (FCr != nullptr) cairo_destroy(FCr);
  if (FSurface != nullptr) cairo_surface_destroy(FSurface);
  FCr = nullptr;
  FSurface = nullptr;
  FWidth = FHeight = 0;
}

void TBitmap::SetSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  cairo_surface_t* s = NewSurface(width, height);
  Release();
  FSurface = s;
  FWidth = s != nullptr ? width : 0;
  FHeight = s != nullptr ? height : 0;
}

void TBitmap::Clear(TColor color) {
  if (FSurface == nullptr) return;
  cairo_t* cr = cairo_create(FSurface);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  SetCairoSource(cr, color);
  cairo_paint(cr);
  cairo_destroy(cr);
}

void TBitmap::ClearTransparent() {
  if (FSurface == nullptr) return;
  cairo_t* cr = cairo_create(FSurface);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_destroy(cr);
}

const uint8_t* TBitmap::Data() const {
  if (FSurface == nullptr) return nullptr;
  cairo_surface_flush(FSurface);
  return cairo_image_surface_get_data(FSurface);
}

int32_t TBitmap::Stride() const {
  return FSurface != nullptr ? cairo_image_surface_get_stride(FSurface) : 0;
}

uint8_t TBitmap::Alpha(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return 0;
  uint32_t p;
  std::memcpy(&p, Data() + y * Stride() + x * 4, 4);
  return static_cast<uint8_t>(p >> 24);
}

TColor TBitmap::Pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return clBlack;
  uint32_t p;
  std::memcpy(&p, Data() + y * Stride() + x * 4, 4);
  uint32_t a = p >> 24;
  if (a == 0) return clBlack;
  auto un = [a](uint32_t v) { return static_cast<int>((v * 255 + a / 2) / a); };
  return RGB(un((p >> 16) & 0xFF), un((p >> 8) & 0xFF), un(p & 0xFF));
}

void TBitmap::SetPixel(int32_t x, int32_t y, TColor color, uint8_t alpha) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
  cairo_surface_flush(FSurface);
  auto pre = [alpha](int v) { return static_cast<uint32_t>((v * alpha + 127) / 255); };
  uint32_t p = (uint32_t(alpha) << 24) | (pre(GetRValue(color)) << 16) |
               (pre(GetGValue(color)) << 8) | pre(GetBValue(color));
  std::memcpy(cairo_image_surface_get_data(FSurface) + y * Stride() + x * 4, &p, 4);
  cairo_surface_mark_dirty_rectangle(FSurface, x, y, 1, 1);
}

TCanvas* TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>();
  if (FCr == nullptr && FSurface != nullptr) FCr = cairo_create(FSurface);
  FCanvas->Bind(FCr);
  return FCanvas.get();
}

bool TBitmap::SaveToFile(const String& fileName) const {
  if (FSurface == nullptr) return false;
  return cairo_surface_write_to_png(FSurface, fileName.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool TBitmap::LoadFromFile(const String& fileName) {
  cairo_surface_t* png = cairo_image_surface_create_from_png(fileName.c_str());
  if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(png);
    return false;
  }
  int32_t w = cairo_image_surface_get_width(png), h = cairo_image_surface_get_height(png);
  try {
    SetSize(w, h);
  } catch (const Exception&) {
    cairo_surface_destroy(png);
    return false;
  }
  if (FSurface != nullptr) {
    cairo_t* cr = cairo_create(FSurface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, png, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
  }
  cairo_surface_destroy(png);
  return true;
}

void TBitmap::Assign(const TPersistent* source) {
  auto* b = dynamic_cast<const TBitmap*>(source);
  if (b == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (b == this) return;
  SetSize(b->FWidth, b->FHeight);
  if (FSurface == nullptr) return;
  const uint8_t* src = b->Data();
  uint8_t* dst = cairo_image_surface_get_data(FSurface);
  cairo_surface_flush(FSurface);
  int32_t rowBytes = FWidth * 4;
  for (int32_t y = 0; y < FHeight; ++y)
    std::memcpy(dst + y * Stride(), src + y * b->Stride(), rowBytes);
  cairo_surface_mark_dirty(FSurface);
}
