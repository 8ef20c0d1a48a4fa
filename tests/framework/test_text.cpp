// Text helpers whose exact semantics the components rely on.
#include <iconv.h>

#include <cmath>

#include <gtest/gtest.h>

#include <qx/framework/core/System.h>

TEST(Round, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(Round(12.5), 12);
  EXPECT_EQ(Round(13.5), 14);
  EXPECT_EQ(Round(0.125 * 100), 12);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Round(-3.5), -4);
  EXPECT_EQ(Round(1050 * 1 / 100.0), 10);  // 10.5
  EXPECT_EQ(Round(12.5000001), 13);
  EXPECT_EQ(Round(32768 * 100 / 65535.0), 50);
  EXPECT_EQ(Round(50 * 65535 / 100.0), 32768);
}

TEST(Round, ValuesWithoutANearestInt64AreDefined) {
  const std::pair<double, int64_t> cases[] = {
      {std::nan(""), 0},
      {HUGE_VAL, INT64_MAX},
      {-HUGE_VAL, INT64_MIN},
      {1e300, INT64_MAX},
      {-1e300, INT64_MIN},
      {9223372036854775808.0, INT64_MAX},
      {-9223372036854775808.0, INT64_MIN},
      {4503599627370497.0, 4503599627370497},
  };
  for (auto [in, out] : cases) EXPECT_EQ(Round(in), out) << in;
}

TEST(StrToIntDef, AcceptedForms) {
  EXPECT_EQ(StrToIntDef("40", -1), 40);
  EXPECT_EQ(StrToIntDef("  40", -1), 40);
  EXPECT_EQ(StrToIntDef("+40", -1), 40);
  EXPECT_EQ(StrToIntDef("-5", -1), -5);
  EXPECT_EQ(StrToIntDef("$1F", -1), 31);
  EXPECT_EQ(StrToIntDef("x1f", -1), 31);
  EXPECT_EQ(StrToIntDef("0x10", -1), 16);
  EXPECT_EQ(StrToIntDef("-$10", -1), -16);
  EXPECT_EQ(StrToIntDef("2147483647", -1), 2147483647);
  EXPECT_EQ(StrToIntDef("-2147483648", -1), INT32_MIN);
  EXPECT_EQ(StrToIntDef("$FFFFFFFF", 0), -1);
  EXPECT_EQ(StrToIntDef("007", -1), 7);
}

TEST(StrToIntDef, RejectedForms) {
  for (const char* s : {"", " ", "40 ", "40\r", "4 0", "+", "-", "$", "0x", "x", "12a",
                        "2147483648", "-2147483649", "$100000000", "1e3", "4O"})
    EXPECT_EQ(StrToIntDef(s, -99), -99) << "'" << s << "'";
}

TEST(TextHelpers, CaseAndReplace) {
  EXPECT_EQ(LowerCase("CrLf Ä"), "crlf Ä");
  EXPECT_EQ(UpperCase("crlf"), "CRLF");
  EXPECT_TRUE(SameText("crlf", "CRLF"));
  EXPECT_FALSE(SameText("crlf", "CRL"));
  EXPECT_EQ(StringReplace("00-1A-2B", "-", "", rfReplaceAll), "001A2B");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", 0), "a+b-c");
  EXPECT_EQ(StringReplace("aXbxc", "x", "_", rfReplaceAll | rfIgnoreCase), "a_b_c");
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToHex(0x1A, 2), "1A");
}

// Reference conversion of one Windows-1250 byte by the C library.
static std::string IconvByte(unsigned char b) {
  iconv_t cd = iconv_open("UTF-8", "CP1250");
  char in[1] = {static_cast<char>(b)};
  char out[8];
  char* pin = in;
  char* pout = out;
  size_t inLeft = 1, outLeft = sizeof(out);
  size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return {};
  return std::string(out, pout - out);
}

TEST(AnsiCodePage, EveryByteSurvivesTextAndBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  RawByteString bytes(all);
  String text = AnsiToString(bytes);
  EXPECT_EQ(StringToAnsi(text), bytes);
}

TEST(AnsiCodePage, AgreesWithTheCLibraryForDefinedBytes) {
  for (int b = 0x80; b < 256; ++b) {
    std::string ref = IconvByte(static_cast<unsigned char>(b));
    if (ref.empty()) continue;  // one of the undefined bytes
    EXPECT_EQ(AnsiToString(RawByteString(std::string(1, char(b)))), ref) << std::hex << b;
  }
  EXPECT_EQ(AnsiToString(RawByteString("\xA3")), "\xC5\x81");  // Ł
  EXPECT_EQ(AnsiToString(RawByteString("\xB3")), "\xC5\x82");  // ł
}

TEST(AnsiCodePage, CharactersWithoutAByteBecomeQuestionMarks) {
  EXPECT_EQ(StringToAnsi("a\xE2\x82\xAC"), RawByteString("a\x80"));  // € has a byte
  EXPECT_EQ(StringToAnsi("\xE6\x97\xA5z"), RawByteString("?z"));     // 日 has none
  EXPECT_EQ(StringToAnsi("\xF0\x9F\x98\x80"), RawByteString("?"));   // emoji: one '?'
  EXPECT_EQ(StringToAnsi("\xC5"), RawByteString("?"));               // cut sequence
  EXPECT_EQ(StringToAnsi("\xFF\xFEok"), RawByteString("??ok"));      // stray bytes
}
