// The Windows-1250 / UTF-8 conversions: every defined Windows-1250 byte survives the round trip
// (the five undefined ones become '?'); UTF-8 to Windows-1250 gives at most one byte per input
// byte, and converting its result there and back again changes nothing.
#include <cstdio>
#include <cstdlib>

#include <qx/net/synachar.h>

namespace {

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

bool Undefined1250(unsigned char b) {
  return b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RawByteString in(reinterpret_cast<const char*>(data), size);

  std::string expected(in.Bytes());
  for (char& c : expected)
    if (Undefined1250(static_cast<unsigned char>(c))) c = '?';
  const RawByteString utf8 = CharsetConversion(in, CP1250, UTF_8);
  if (CharsetConversion(utf8, UTF_8, CP1250).Bytes() != expected)
    Finding("a Windows-1250 byte did not survive the round trip");

  const RawByteString ansi = CharsetConversion(in, UTF_8, CP1250);
  if (ansi.size() > in.size()) Finding("more Windows-1250 bytes than UTF-8 bytes");
  const RawByteString back =
      CharsetConversion(CharsetConversion(ansi, CP1250, UTF_8), UTF_8, CP1250);
  if (!(back == ansi)) Finding("UTF-8 to Windows-1250 is not stable");
  return 0;
}
