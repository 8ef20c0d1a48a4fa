// Character-set identifiers of the socket layer and CharsetConversion, which re-encodes a byte
// string between them through iconv.
#pragma once

#include <qx/framework/core/System.h>

// The numbering is fixed (CP1250 is 13, UTF_8 is 27): callers store these values.
enum TMimeChar : int {
  ISO_8859_1 = 0,
  ISO_8859_2,
  ISO_8859_3,
  ISO_8859_4,
  ISO_8859_5,
  ISO_8859_6,
  ISO_8859_7,
  ISO_8859_8,
  ISO_8859_9,
  ISO_8859_10,
  ISO_8859_13,
  ISO_8859_14,
  ISO_8859_15,
  CP1250 = 13,
  CP1251,
  CP1252,
  CP1253,
  CP1254,
  CP1255,
  CP1256,
  CP1257,
  CP1258,
  KOI8_R,
  CP895,
  CP852,
  UCS_2,
  UCS_4,
  UTF_8 = 27,
};

// Converts Value from CharFrom to CharTo. Supported: UTF_8 and every single-byte set above
// except CP895. The result is defined for every input:
// - each byte that is not part of a well-formed UTF-8 sequence (when reading UTF-8), and each byte
//   the source set leaves undefined (such as 81 83 88 90 98 in CP1250), becomes one '?';
// - each character the target set cannot represent becomes one '?';
// - everything else converts, so one bad byte never costs the rest of the input.
// The same set on both sides, an unsupported set, or an iconv that cannot be opened returns Value
// unchanged. Thread-safe: each thread keeps its own converters.
RawByteString CharsetConversion(const RawByteString& Value, TMimeChar CharFrom, TMimeChar CharTo);
