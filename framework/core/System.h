// Basic text, byte and number types shared by every layer, and the text helpers whose exact
// semantics the components rely on.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// Text: UTF-8.
using String = std::string;

// Datagram payloads: bytes, deliberately a different type from String so that the compiler keeps
// text and bytes apart. They cross only through AnsiToString / StringToAnsi.
class RawByteString {
 public:
  RawByteString() = default;
  explicit RawByteString(std::string bytes) : FBytes(std::move(bytes)) {}
  RawByteString(const char* data, size_t size) : FBytes(data, size) {}
  static RawByteString FromBytes(std::string_view b) { return RawByteString(std::string(b)); }

  const std::string& Bytes() const { return FBytes; }
  std::string& Bytes() { return FBytes; }
  const char* data() const { return FBytes.data(); }
  size_t size() const { return FBytes.size(); }
  bool empty() const { return FBytes.empty(); }
  uint8_t operator[](size_t i) const { return static_cast<uint8_t>(FBytes[i]); }
  void clear() { FBytes.clear(); }

  RawByteString& operator+=(const RawByteString& o) {
    FBytes += o.FBytes;
    return *this;
  }
  friend RawByteString operator+(RawByteString a, const RawByteString& b) { return a += b; }
  friend bool operator==(const RawByteString&, const RawByteString&) = default;

 private:
  std::string FBytes;
};

// The host ANSI code page is Windows-1250: one byte per character. The five bytes the code page
// leaves undefined (81 83 88 90 98) map to the C1 code points of the same value, so every byte
// survives bytes -> text -> bytes. A character with no byte becomes '?'.
String AnsiToString(const RawByteString& bytes);
// The same into `out`, whose storage is reused.
void AnsiToStringInto(std::string_view bytes, String& out);
// Appends one Unicode code point as UTF-8.
void AppendUtf8(String& out, char32_t cp);
RawByteString StringToAnsi(std::string_view text);

// Framework misuse (bad form file, unknown property) is reported with this.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const String& message) : std::runtime_error(message) {}
  String Message() const { return what(); }
};

// Round to nearest, halves to the even neighbour (banker's rounding). NaN gives 0; a value beyond
// the 64-bit range (an infinity too) gives the nearer end of it.
int64_t Round(double value);

// Leading blanks, optional sign, decimal digits or a hexadecimal number introduced by '$', 'x' or
// '0x'. Anything else (trailing blanks included), empty text or a value outside 32 bits gives
// Default.
int32_t StrToIntDef(std::string_view s, int32_t Default);
bool TryStrToInt(std::string_view s, int32_t& value);
String IntToStr(int64_t value);
String IntToHex(uint64_t value, int digits);
// ASCII-only case mapping, like the framework's LowerCase/UpperCase.
String LowerCase(std::string_view s);
String UpperCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);

enum TReplaceFlag { rfReplaceAll = 1, rfIgnoreCase = 2 };
String StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                     int flags);

// Colours in the framework's byte order: 0x00BBGGRR.
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = 0xF0F0F0;
constexpr TColor RGB(int r, int g, int b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr int GetRValue(TColor c) {
  return c & 0xFF;
}
constexpr int GetGValue(TColor c) {
  return (c >> 8) & 0xFF;
}
constexpr int GetBValue(TColor c) {
  return (c >> 16) & 0xFF;
}

enum TAlign : int32_t {
  alNone = 0,
  alTop = 1,
  alBottom = 2,
  alLeft = 3,
  alRight = 4,
  alClient = 5
};

// Sleeps the calling thread.
void Sleep(uint32_t ms);
