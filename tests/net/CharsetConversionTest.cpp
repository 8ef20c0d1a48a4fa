// CharsetConversion between UTF-8 and Windows-1250, including bytes and characters that have no
// counterpart.
#include <gtest/gtest.h>

#include <qx/net/synachar.h>

namespace {

RawByteString B(std::string_view s) {
  return RawByteString::FromBytes(s);
}

RawByteString ToCp1250(std::string_view utf8) {
  return CharsetConversion(B(utf8), UTF_8, CP1250);
}
RawByteString ToUtf8(std::string_view cp1250) {
  return CharsetConversion(B(cp1250), CP1250, UTF_8);
}

}  // namespace

TEST(CharsetConversion, IdentifiersKeepTheirNumbers) {
  EXPECT_EQ(static_cast<int>(CP1250), 13);
  EXPECT_EQ(static_cast<int>(UTF_8), 27);
}

TEST(CharsetConversion, CentralEuropeanLettersBothWays) {
  EXPECT_EQ(ToCp1250("\xC5\x81"), B("\xA3"));  // L with stroke
  EXPECT_EQ(ToUtf8("\xA3"), B("\xC5\x81"));
  EXPECT_EQ(ToCp1250("\xC5\x82"), B("\xB3"));
  EXPECT_EQ(ToCp1250("AT \xC4\x8D\xC5\xA1\xC5\xBE \xE2\x82\xAC"), B("AT \xE8\x9A\x9E \x80"));
}

TEST(CharsetConversion, EveryDefinedWindows1250ByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    if (b != 0x81 && b != 0x83 && b != 0x88 && b != 0x90 && b != 0x98) all += static_cast<char>(b);
  const RawByteString utf8 = CharsetConversion(B(all), CP1250, UTF_8);
  EXPECT_GT(utf8.size(), all.size());
  EXPECT_EQ(CharsetConversion(utf8, UTF_8, CP1250), B(all));
}

TEST(CharsetConversion, BadUtf8BytesBecomeOneQuestionMarkEachAndTheRestConverts) {
  EXPECT_EQ(ToCp1250("a\xFF"
                     "b"),
            B("a?b"));
  EXPECT_EQ(ToCp1250("\xC0\xAF"), B("??"));  // overlong form
  EXPECT_EQ(ToCp1250("\xED\xA0\x80"
                     "x"),
            B("???x"));                               // surrogate
  EXPECT_EQ(ToCp1250("x\x80\xC5\x81"), B("x?\xA3"));  // stray continuation byte
  EXPECT_EQ(ToCp1250("\xC5\x81\xC5"), B("\xA3?"));    // cut off at the end
}

TEST(CharsetConversion, CharactersWithoutAWindows1250ByteBecomeOneQuestionMark) {
  EXPECT_EQ(ToCp1250("a\xE4\xB8\xAD"
                     "b"),
            B("a?b"));                                          // CJK, three bytes
  EXPECT_EQ(ToCp1250("\xF0\x9F\x98\x80\xC5\x81"), B("?\xA3"));  // emoji, four bytes
  EXPECT_EQ(ToCp1250("\xC3\xBF"), B("?"));                      // y with diaeresis
  // Tag characters, U+E0000 to U+E007F, which iconv would drop silently.
  EXPECT_EQ(ToCp1250("a\xF3\xA0\x80\x81"
                     "b\xF3\xA0\x81\xBF\xF3\xA0\x82\x80"),
            B("a?b??"));
  EXPECT_EQ(CharsetConversion(B("\xF3\xA0\x81\xA1z"), UTF_8, ISO_8859_2), B("?z"));
}

TEST(CharsetConversion, UndefinedWindows1250BytesBecomeQuestionMarks) {
  EXPECT_EQ(ToUtf8("a\x81"
                   "b\x98"),
            B("a?b?"));
}

TEST(CharsetConversion, TrivialCasesReturnTheInput) {
  EXPECT_TRUE(ToCp1250("").empty());
  EXPECT_EQ(CharsetConversion(B("\xFF\xC5"), UTF_8, UTF_8), B("\xFF\xC5"));
  EXPECT_EQ(CharsetConversion(B("abc"), CP1250, UCS_2), B("abc"));
}
