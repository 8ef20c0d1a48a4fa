// Signed command lines and key texts from any bytes: parsed, checked and signed again without a
// crash, and a line that verifies is exactly the line its parts sign.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <qx/master_volume/SignedCommand.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TCommandMac mac([] {
    TQxCommandKey k;
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i);
    return k;
  }());
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  TQxCommandKey key;
  std::string error;
  ParseKeyText(input, key, error);
  for (size_t start = 0; start <= input.size();) {
    size_t end = input.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = input.size();
    TSignedLine s;
    const std::string_view line = input.substr(start, end - start);
    if (ParseSignedLine(line, s) && mac.Verify(s)) {
      std::string again = mac.Sign(s.Command, s.Counter);
      for (char& c : again) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string lower(line);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (again != lower) std::abort();
    }
    start = end + 1;
  }
  return 0;
}
