#include <qx/net/SockAddr.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>

#include <qx/net/WinsockErrors.h>

namespace {

// -1: not all digits (a service name); -2: digits but out of range.
int ParseDecimalPort(const String& Port) {
  if (Port.empty()) return 0;
  int value = 0;
  for (char c : Port) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    if (value > 65535) return -2;
  }
  return value;
}

}  // namespace

int ResolveSockAddr(const String& Host, const String& Port, bool Passive, sockaddr_in& Out) {
  Out = sockaddr_in{};
  Out.sin_family = AF_INET;
  const int port = ParseDecimalPort(Port);
  if (port == -2) return WSATYPE_NOT_FOUND;
  const bool anyHost = Host.empty() && Passive;
  const bool numericHost = anyHost || inet_pton(AF_INET, Host.c_str(), &Out.sin_addr) == 1;
  if (numericHost && port >= 0) {
    if (anyHost) Out.sin_addr.s_addr = htonl(INADDR_ANY);
    Out.sin_port = htons(static_cast<uint16_t>(port));
    return WSA_OK;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  hints.ai_flags = Passive ? AI_PASSIVE : 0;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(Host.empty() ? nullptr : Host.c_str(),
                             Port.empty() ? "0" : Port.c_str(), &hints, &found);
  if (rc != 0) return GaiToWinsock(rc, errno);
  int result = WSAHOST_NOT_FOUND;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      Out = *reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
      result = WSA_OK;
      break;
    }
  }
  freeaddrinfo(found);
  return result;
}

String SinIP(const sockaddr_in& Sin) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &Sin.sin_addr, text, sizeof text);
  return text;
}
