#include <cstring>

#include <qx/framework/design/Package.h>

namespace {

// 3 x 5 glyphs, one row per 3 bits (top bit left), top row first.
struct Glyph {
  char C;
  uint8_t Rows[5];
};
constexpr Glyph kFont[] = {
    {'A', {2, 5, 7, 5, 5}}, {'B', {6, 5, 6, 5, 6}}, {'C', {3, 4, 4, 4, 3}}, {'D', {6, 5, 5, 5, 6}},
    {'E', {7, 4, 6, 4, 7}}, {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}}, {'O', {2, 5, 5, 5, 2}},
    {'P', {6, 5, 6, 4, 4}}, {'Q', {2, 5, 5, 6, 3}}, {'R', {6, 5, 6, 5, 5}}, {'S', {3, 4, 2, 1, 6}},
    {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}}, {'V', {5, 5, 5, 5, 2}}, {'X', {5, 5, 2, 5, 5}},
};

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(v & 0xff);
  b.push_back(v >> 8);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xff);
}

}  // namespace

TPaletteBitmap::TPaletteBitmap(uint32_t ground) {
  Fill(0, 0, Size, Size, ground);
}

void TPaletteBitmap::Pixel(int x, int y, uint32_t rgb) {
  if (x >= 0 && x < Size && y >= 0 && y < Size) FPixels[y][x] = rgb;
}

void TPaletteBitmap::Fill(int x, int y, int w, int h, uint32_t rgb) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) Pixel(i, j, rgb);
}

void TPaletteBitmap::Text(int x, int y, const String& text, uint32_t rgb, int scale) {
  for (char ch : text) {
    for (const Glyph& g : kFont) {
      if (g.C != ch) continue;
      for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c)
          if (g.Rows[r] & (4 >> c)) Fill(x + c * scale, y + r * scale, scale, scale, rgb);
    }
    x += 4 * scale;
  }
}

std::vector<uint8_t> TPaletteBitmap::Dib() const {
  std::vector<uint8_t> b;
  Put32(b, 40);  // BITMAPINFOHEADER
  Put32(b, Size);
  Put32(b, Size);  // positive height: bottom-up rows
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);  // BI_RGB: uncompressed
  Put32(b, Size * Size * 3);
  Put32(b, 2835);  // 72 dpi
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  for (int y = Size - 1; y >= 0; --y)
    for (int x = 0; x < Size; ++x) {
      uint32_t p = FPixels[y][x];
      b.push_back(p & 0xff);
      b.push_back((p >> 8) & 0xff);
      b.push_back((p >> 16) & 0xff);
    }
  return b;
}

std::vector<uint8_t> BmpFileFromDib(const uint8_t* dib, size_t size) {
  if (size < 40) throw Exception("the bitmap resource is too short");
  uint32_t headerSize = dib[0] | dib[1] << 8 | dib[2] << 16 | uint32_t(dib[3]) << 24;
  if (headerSize < 40 || headerSize > size) throw Exception("the bitmap resource is malformed");
  std::vector<uint8_t> b{'B', 'M'};
  Put32(b, static_cast<uint32_t>(14 + size));
  Put32(b, 0);
  Put32(b, 14 + headerSize);  // no colour table at 24 bits per pixel
  b.insert(b.end(), dib, dib + size);
  return b;
}
