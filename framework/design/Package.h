// What a component package exports for a designer host: its Register entry and its resources
// (palette bitmaps, description, version block, requirements), both as C entries so that a host
// finds them with dlsym; and the host side, which loads a package by path and unloads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <qx/framework/core/System.h>

#define QX_PACKAGE_EXPORT extern "C" __attribute__((visibility("default")))

// A bitmap resource: a device-independent bitmap (BITMAPINFOHEADER, then the pixel rows).
struct TQxBitmapResource {
  const char* Name;
  const uint8_t* Data;
  size_t Size;
};

struct TQxPackageInfo {
  const char* Name;
  const char* Description;
  // The version block.
  const char* FileVersion;
  const char* ProductVersion;
  const char* FileDescription;
  const char* ProductName;
  const char* const* Requires;
  size_t RequiresCount;
  bool DesignOnly;
  bool RunOnly;
  const TQxBitmapResource* Bitmaps;
  size_t BitmapCount;
};

// The entries every package exports.
using TPackageRegisterProc = void (*)();
using TPackageInfoProc = const TQxPackageInfo* (*)();
constexpr const char* kPackageRegisterEntry = "Register";
constexpr const char* kPackageInfoEntry = "QxPackageInfo";

// A 24 x 24, 24 bits per pixel palette picture drawn in code.
class TPaletteBitmap {
 public:
  static constexpr int Size = 24;
  explicit TPaletteBitmap(uint32_t ground);  // colours as 0xRRGGBB
  void Pixel(int x, int y, uint32_t rgb);
  void Fill(int x, int y, int w, int h, uint32_t rgb);
  // Capital letters and digits from a 3 x 5 pixel font, each pixel `scale` wide.
  void Text(int x, int y, const String& text, uint32_t rgb, int scale = 1);
  // The resource form: BITMAPINFOHEADER then bottom-up BGR rows (no padding at this width).
  std::vector<uint8_t> Dib() const;

 private:
  uint32_t FPixels[Size][Size];
};

// A bitmap resource as a .bmp file: the file header in front of the resource.
std::vector<uint8_t> BmpFileFromDib(const uint8_t* dib, size_t size);

// A loaded package. Loading calls its Register once (its registrations belong to it); the
// destructor takes them back and unloads it.
class TDesignPackage {
 public:
  // Throws Exception naming the path when the file is no package.
  explicit TDesignPackage(const String& path);
  ~TDesignPackage();
  TDesignPackage(const TDesignPackage&) = delete;
  TDesignPackage& operator=(const TDesignPackage&) = delete;

  const String& Path() const { return FPath; }
  const TQxPackageInfo& Info() const { return *FInfo; }
  const TQxBitmapResource* FindBitmap(std::string_view name) const;

 private:
  String FPath;
  void* FHandle = nullptr;
  const TQxPackageInfo* FInfo = nullptr;
  int FId;
};
