// The text helpers against simple models: TryStrToInt / StrToIntDef (the set-volume argument and
// port parsing rest on them), Round, and the host code page's byte round trip.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <qx/framework/core/System.h>

namespace {

[[noreturn]] void Finding(const char* what, std::string_view input) {
  std::fprintf(stderr, "%s: '%.*s'\n", what, int(input.size()), input.data());
  std::abort();
}

// The documented grammar, worked out on 128-bit numbers with the digits counted first.
bool ModelStrToInt(std::string_view s, int32_t& out) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int base = 10;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    base = 16, ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16, i += 2;
  }
  std::string_view digits = s.substr(i);
  if (digits.empty()) return false;
  for (char c : digits)
    if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                     : std::isdigit(static_cast<unsigned char>(c))))
      return false;
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  if (digits.size() > 12) return false;
  __int128 v = 0;
  for (char c : digits)
    v = v * base + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
  if (base == 16) {
    if (v > 0xFFFFFFFF) return false;
    uint32_t bits = static_cast<uint32_t>(v);
    out = static_cast<int32_t>(neg ? 0u - bits : bits);
    return true;
  }
  if (neg) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

int64_t ModelRound(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 0x1p63) return INT64_MAX;
  if (x < -0x1p63) return INT64_MIN;
  return static_cast<int64_t>(std::nearbyint(x));  // the default mode: nearest, ties to even
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);

  int32_t got = 0, want = 0;
  const bool ok = TryStrToInt(s, got), modelOk = ModelStrToInt(s, want);
  if (ok != modelOk || (ok && got != want)) Finding("TryStrToInt differs from the model", s);
  if (StrToIntDef(s, 12345) != (ok ? got : 12345)) Finding("StrToIntDef differs", s);

  if (size >= sizeof(double)) {
    double x;
    std::memcpy(&x, data, sizeof x);
    if (Round(x) != ModelRound(x)) Finding("Round differs from the model", s);
  }

  // Every byte survives bytes -> text -> bytes; text -> bytes -> text -> bytes is stable.
  const RawByteString bytes = RawByteString::FromBytes(s);
  if (!(StringToAnsi(AnsiToString(bytes)) == bytes)) Finding("a byte did not survive", s);
  const RawByteString once = StringToAnsi(s);
  if (!(StringToAnsi(AnsiToString(once)) == once)) Finding("text to bytes is not stable", s);
  return 0;
}
