// The test machine's interfaces read through ioctl, a different path from the getifaddrs and
// /proc reading under test, to check the real adapter table against.
#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct TKernelInterface {
  std::string Name;
  unsigned Index = 0;
  std::string IpAddress = "0.0.0.0";  // the primary IPv4 address
  std::vector<uint8_t> Mac;           // Ethernet interfaces with a non-zero address only
};

// Non-loopback interfaces in interface-index order.
inline std::vector<TKernelInterface> KernelInterfaces() {
  std::vector<TKernelInterface> out;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return out;
  struct if_nameindex* names = if_nameindex();
  for (struct if_nameindex* n = names; n != nullptr && n->if_index != 0; ++n) {
    ifreq req{};
    std::strncpy(req.ifr_name, n->if_name, IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFFLAGS, &req) != 0 || (req.ifr_flags & IFF_LOOPBACK)) continue;
    TKernelInterface itf;
    itf.Name = n->if_name;
    itf.Index = n->if_index;
    if (ioctl(fd, SIOCGIFADDR, &req) == 0 && req.ifr_addr.sa_family == AF_INET) {
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&req.ifr_addr)->sin_addr, text,
                sizeof text);
      itf.IpAddress = text;
    }
    if (ioctl(fd, SIOCGIFHWADDR, &req) == 0 && req.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(req.ifr_hwaddr.sa_data);
      if (std::any_of(bytes, bytes + 6, [](uint8_t b) { return b != 0; })) {
        itf.Mac.assign(bytes, bytes + 6);
      }
    }
    out.push_back(itf);
  }
  if (names != nullptr) if_freenameindex(names);
  close(fd);
  std::sort(out.begin(), out.end(),
            [](const TKernelInterface& a, const TKernelInterface& b) { return a.Index < b.Index; });
  return out;
}
