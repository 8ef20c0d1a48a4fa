#include <qx/udp_link/PeerAddress.h>

#include <arpa/inet.h>

namespace {

bool HostOrder(const String& ip, uint32_t& out) {
  in_addr a;
  if (inet_pton(AF_INET, ip.c_str(), &a) != 1) return false;
  out = ntohl(a.s_addr);
  return true;
}

}  // namespace

bool IsNoHostIPv4(const String& ip) {
  uint32_t a;
  if (!HostOrder(ip, a)) return false;
  return (a >> 24) == 0 || (a >> 28) >= 0xE;
}

bool LooksLikeBroadcastIPv4(const String& ip) {
  uint32_t a;
  return HostOrder(ip, a) && (a & 0xFF) == 0xFF;
}
