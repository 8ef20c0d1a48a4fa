#include <qx/framework/core/System.h>

#include <array>
#include <chrono>
#include <cmath>
#include <thread>
#include <unordered_map>

namespace {

// Windows-1250, bytes 0x80..0xFF. The five bytes the code page leaves undefined (81 83 88 90 98)
// stand for the C1 code points of the same value, so that every byte has a character.
constexpr std::array<char32_t, 128> kCp1250High = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

const std::unordered_map<char32_t, char>& ReverseCp1250() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<char32_t, char>();
    for (size_t i = 0; i < kCp1250High.size(); ++i) (*m)[kCp1250High[i]] = char(0x80 + i);
    return m;
  }();
  return *map;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 for an invalid sequence.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  auto b0 = static_cast<unsigned char>(s[i]);
  size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void AppendUtf8(String& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

String AnsiToString(const RawByteString& bytes) {
  String out;
  AnsiToStringInto(bytes.Bytes(), out);
  return out;
}

void AnsiToStringInto(std::string_view bytes, String& out) {
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char b : bytes) {
    if (b < 0x80)
      out += char(b);
    else
      AppendUtf8(out, kCp1250High[b - 0x80]);
  }
}

RawByteString StringToAnsi(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto& rev = ReverseCp1250();
  for (size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += char(b);
      ++i;
      continue;
    }
    char32_t cp;
    size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) {  // not UTF-8: one '?' for the stray byte
      out += '?';
      ++i;
      continue;
    }
    auto it = rev.find(cp);
    out += it == rev.end() ? '?' : it->second;
    i += len;
  }
  return RawByteString(std::move(out));
}

int64_t Round(double value) {
  // NaN has no nearest integer: 0. Beyond the 64-bit range, infinities included: the nearer end.
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value < -9223372036854775808.0) return INT64_MIN;
  double fl = std::floor(value);
  double diff = value - fl;
  if (diff > 0.5) return static_cast<int64_t>(fl) + 1;
  if (diff < 0.5) return static_cast<int64_t>(fl);
  auto f = static_cast<int64_t>(fl);
  return (f % 2 == 0) ? f : f + 1;
}

bool TryStrToInt(std::string_view s, int32_t& value) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  bool hex = false;
  if (i < s.size() && s[i] == '$') {
    hex = true, ++i;
  } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
    hex = true, ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true, i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t acc = 0;
  for (; i < s.size(); ++i) {
    int d = hex ? HexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (d < 0) return false;
    acc = acc * (hex ? 16 : 10) + d;
    if (acc > (hex ? 0xFFFFFFFFull : 0x80000000ull)) return false;
  }
  if (hex) {
    // Hexadecimal text is a 32-bit pattern: $FFFFFFFF is -1.
    auto v = static_cast<int32_t>(static_cast<uint32_t>(acc));
    value = neg ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
    return true;
  }
  if (!neg && acc > 0x7FFFFFFFull) return false;
  value = neg ? static_cast<int32_t>(-static_cast<int64_t>(acc)) : static_cast<int32_t>(acc);
  return true;
}

int32_t StrToIntDef(std::string_view s, int32_t Default) {
  int32_t v;
  return TryStrToInt(s, v) ? v : Default;
}

String IntToStr(int64_t value) {
  return std::to_string(value);
}

String IntToHex(uint64_t value, int digits) {
  static const char* kDigits = "0123456789ABCDEF";
  String out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), '0');
  return out;
}

String LowerCase(std::string_view s) {
  String r(s);
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return r;
}

String UpperCase(std::string_view s) {
  String r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return LowerCase(a) == LowerCase(b);
}

String StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                     int flags) {
  if (oldPattern.empty()) return String(s);
  const bool all = (flags & rfReplaceAll) != 0;
  const String hay = (flags & rfIgnoreCase) ? LowerCase(s) : String(s);
  const String pat = (flags & rfIgnoreCase) ? LowerCase(oldPattern) : String(oldPattern);
  String out;
  size_t pos = 0;
  while (true) {
    size_t hit = hay.find(pat, pos);
    if (hit == String::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(newPattern);
    pos = hit + pat.size();
    if (!all) break;
  }
  out.append(s.substr(pos));
  return out;
}

void Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
