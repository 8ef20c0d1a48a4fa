#include <qx/net/synachar.h>

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace {

const char* IconvName(TMimeChar set) {
  switch (set) {
    case ISO_8859_1:
      return "ISO-8859-1";
    case ISO_8859_2:
      return "ISO-8859-2";
    case ISO_8859_3:
      return "ISO-8859-3";
    case ISO_8859_4:
      return "ISO-8859-4";
    case ISO_8859_5:
      return "ISO-8859-5";
    case ISO_8859_6:
      return "ISO-8859-6";
    case ISO_8859_7:
      return "ISO-8859-7";
    case ISO_8859_8:
      return "ISO-8859-8";
    case ISO_8859_9:
      return "ISO-8859-9";
    case ISO_8859_10:
      return "ISO-8859-10";
    case ISO_8859_13:
      return "ISO-8859-13";
    case ISO_8859_14:
      return "ISO-8859-14";
    case ISO_8859_15:
      return "ISO-8859-15";
    case CP1250:
      return "CP1250";
    case CP1251:
      return "CP1251";
    case CP1252:
      return "CP1252";
    case CP1253:
      return "CP1253";
    case CP1254:
      return "CP1254";
    case CP1255:
      return "CP1255";
    case CP1256:
      return "CP1256";
    case CP1257:
      return "CP1257";
    case CP1258:
      return "CP1258";
    case KOI8_R:
      return "KOI8-R";
    case CP852:
      return "CP852";
    case UTF_8:
      return "UTF-8";
    default:
      return nullptr;  // CP895, and the multi-byte UCS forms whose '?' would not be one byte
  }
}

// Length of the well-formed UTF-8 sequence at p (Unicode table 3-7: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when the bytes there do not start one.
size_t WellFormedUtf8Length(const unsigned char* p, size_t left) {
  const unsigned char b0 = p[0];
  auto cont = [&](size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return i < left && p[i] >= lo && p[i] <= hi;
  };
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
    return cont(1, lo, hi) && cont(2) ? 3 : 0;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
    return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
  }
  return 0;
}

// One iconv descriptor per thread and direction, opened on first use, closed when the thread ends.
class TConverterCache {
 public:
  ~TConverterCache() {
    for (auto& row : FTable)
      for (iconv_t cd : row)
        if (cd != Unopened && cd != Failed) iconv_close(cd);
  }
  iconv_t Get(TMimeChar from, TMimeChar to) {
    iconv_t& cd = FTable[from][to];
    if (cd == Unopened) cd = iconv_open(IconvName(to), IconvName(from));
    return cd;
  }
  static inline const iconv_t Failed = reinterpret_cast<iconv_t>(-1);

 private:
  static inline const iconv_t Unopened = nullptr;
  iconv_t FTable[UTF_8 + 1][UTF_8 + 1] = {};
};

bool Supported(TMimeChar set) {
  return set >= 0 && set <= UTF_8 && IconvName(set) != nullptr;
}

// U+E0000..U+E007F, the tag characters: F3 A0 80..81 80..BF in UTF-8. iconv drops them without
// a word when the target lacks them, so they are found here and become '?' like any other.
bool IsUtf8Tag(const unsigned char* p, size_t left) {
  return left >= 4 && p[0] == 0xF3 && p[1] == 0xA0 && (p[2] == 0x80 || p[2] == 0x81) &&
         p[3] >= 0x80 && p[3] <= 0xBF;
}

// Converts [in, in + inLeft) onto the end of out, one '?' for each bad or unconvertible spot.
void AppendConverted(iconv_t cd, bool fromUtf8, bool toUtf8, char* in, size_t inLeft,
                     std::string& out) {
  if (inLeft == 0) return;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // Single-byte sets need at most 3 UTF-8 bytes per byte (all their characters are in the BMP),
  // and UTF-8 never needs more than 1 single-byte character per byte.
  size_t used = out.size();
  out.resize(used + (toUtf8 ? inLeft * 3 : inLeft));
  char* outPtr = out.data() + used;
  size_t outLeft = out.size() - used;
  auto grow = [&] {
    const size_t done = out.size() - outLeft;
    out.resize(out.size() * 2 + 16);
    outPtr = out.data() + done;
    outLeft = out.size() - done;
  };
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    const int err = errno;
    if (err == E2BIG) {
      grow();  // not expected with the sizes above; grow rather than cut the result short
      continue;
    }
    if (err != EILSEQ && err != EINVAL) break;
    // A bad or unconvertible spot: one '?' for it, then go on after it. A well-formed UTF-8
    // character that the target lacks is skipped whole; a bad byte alone.
    size_t skip = 1;
    if (fromUtf8) {
      const size_t k = WellFormedUtf8Length(reinterpret_cast<const unsigned char*>(in), inLeft);
      if (k > 0) skip = k;
    }
    if (outLeft == 0) grow();
    *outPtr++ = '?';
    --outLeft;
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - outLeft);
}

}  // namespace

RawByteString CharsetConversion(const RawByteString& Value, TMimeChar CharFrom, TMimeChar CharTo) {
  if (Value.empty() || CharFrom == CharTo || !Supported(CharFrom) || !Supported(CharTo))
    return Value;
  thread_local TConverterCache cache;
  iconv_t cd = cache.Get(CharFrom, CharTo);
  if (cd == TConverterCache::Failed) return Value;
  const bool fromUtf8 = CharFrom == UTF_8, toUtf8 = CharTo == UTF_8;
  std::string out;
  out.reserve(toUtf8 ? Value.size() * 3 : Value.size());
  char* data = const_cast<char*>(Value.data());
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  size_t start = 0;
  if (fromUtf8) {
    for (size_t i = 0; i < Value.size();) {
      if (!IsUtf8Tag(bytes + i, Value.size() - i)) {
        ++i;
        continue;
      }
      AppendConverted(cd, fromUtf8, toUtf8, data + start, i - start, out);
      out += '?';
      i += 4;
      start = i;
    }
  }
  AppendConverted(cd, fromUtf8, toUtf8, data + start, Value.size() - start, out);
  return RawByteString(std::move(out));
}
