#include "HttpPairing.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <qrencode.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include <qx/platform/hostinfo/HostAdapters.h>
#include <qx/platform/hostinfo/HostName.h>

namespace {

// Tokens travel in a URL fragment, a header and a query: only characters none of them changes.
bool UrlSafe(const String& token) {
  for (unsigned char c : token)
    if (!(std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')) return false;
  return true;
}

std::vector<String> HostAddresses() {
  std::vector<TAdapterRecord> adapters;
  std::vector<String> withGateway, others;
  if (ReadHostAdapters(adapters) != 0) return {};
  for (const TAdapterRecord& a : adapters) {
    const bool gateway = !a.Gateways.empty() && a.Gateways[0].IpAddress != "0.0.0.0";
    for (const TIpAddressText& ip : a.IpAddresses)
      if (ip.IpAddress != "0.0.0.0") (gateway ? withGateway : others).push_back(ip.IpAddress);
  }
  withGateway.insert(withGateway.end(), others.begin(), others.end());
  return withGateway;
}

}  // namespace

String NewPairingToken() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return "";
  String token;
  for (unsigned char b : bytes) token += IntToHex(b, 2);
  return LowerCase(token);
}

String TokenFromFile(const String& path, String& token) {
  std::ifstream in(path);
  if (!in) {
    if (errno != ENOENT) return path + ": " + std::strerror(errno);
    token = NewPairingToken();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return path + ": " + std::strerror(errno);
    const String line = token + "\n";
    const bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    return ok ? String() : path + ": cannot write the new token";
  }
  std::getline(in, token);
  while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
  if (token.size() < 22 || token.size() > 256 || !UrlSafe(token))
    return path +
           ": the token must be 22 to 256 characters of A-Z a-z 0-9 - _ . ~ "
           "(at least 128 bits)";
  return "";
}

std::vector<String> PageHostNames(const String& address) {
  std::vector<String> names;
  if (address == "0.0.0.0") {
    names = HostAddresses();
    names.push_back("127.0.0.1");
  } else {
    names.push_back(address);
  }
  if (address == "0.0.0.0" || address.rfind("127.", 0) == 0) names.push_back("localhost");
  if (const String host = LowerCase(GetLocalHostName()); !host.empty()) {
    names.push_back(host);
    names.push_back(host + ".local");
  }
  return names;
}

String PageAddress(bool tls, const String& address, uint16_t port, const String& token) {
  String host = address;
  if (address == "0.0.0.0") {
    const std::vector<String> all = HostAddresses();
    host = all.empty() ? String("127.0.0.1") : all.front();
  }
  return String(tls ? "https://" : "http://") + host + ":" + std::to_string(port) + "/#t=" + token;
}

std::vector<String> QrLines(const String& text) {
  std::unique_ptr<QRcode, void (*)(QRcode*)> qr(
      QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1), QRcode_free);
  if (!qr) return {};
  const int n = qr->width, quiet = 4;  // the standard quiet zone
  auto dark = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < n && y < n && (qr->data[y * n + x] & 1) != 0;
  };
  std::vector<String> lines;
  for (int y = -quiet; y < n + quiet; y += 2) {
    // Black on white, set explicitly: a scanner wants dark modules on a light ground.
    String line = "\x1b[30;47m";
    for (int x = -quiet; x < n + quiet; ++x) {
      const bool top = dark(x, y), bottom = dark(x, y + 1);
      line += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    lines.push_back(line + "\x1b[0m");
  }
  return lines;
}
