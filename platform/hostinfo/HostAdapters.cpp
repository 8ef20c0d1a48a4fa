#include <qx/platform/hostinfo/HostAdapters.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;

String Ipv4Text(const sockaddr* addr) {
  if (addr == nullptr || addr->sa_family != AF_INET) return "0.0.0.0";
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text, sizeof text);
  return text;
}

String Ipv4Text(uint32_t networkOrder) {
  in_addr addr{};
  addr.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

bool IsWireless(const String& name) {
  struct stat st {};
  return stat(("/sys/class/net/" + name + "/wireless").c_str(), &st) == 0 ||
         stat(("/sys/class/net/" + name + "/phy80211").c_str(), &st) == 0;
}

UINT AdapterType(unsigned short hatype, const String& name) {
  switch (hatype) {
    case ARPHRD_ETHER:
      return IsWireless(name) ? IF_TYPE_IEEE80211 : MIB_IF_TYPE_ETHERNET;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_PRISM:
    case ARPHRD_IEEE80211_RADIOTAP:
      return IF_TYPE_IEEE80211;
    case ARPHRD_PPP:
      return MIB_IF_TYPE_PPP;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
      return MIB_IF_TYPE_SLIP;
    case ARPHRD_IEEE802_TR:
      return MIB_IF_TYPE_TOKENRING;
    case ARPHRD_FDDI:
      return MIB_IF_TYPE_FDDI;
    case ARPHRD_LOOPBACK:
      return MIB_IF_TYPE_LOOPBACK;
    default:
      return MIB_IF_TYPE_OTHER;
  }
}

struct TInterface {
  TAdapterRecord Record;
  bool Loopback = false;
};

// Interfaces by name. An IPv4 address with a label ("eth0:1") belongs to the interface the label
// is derived from.
class TInterfaceSet {
 public:
  TInterface& Find(const String& name, unsigned flags) {
    auto it = FByName.find(name);
    if (it == FByName.end()) {
      const auto colon = name.find(':');
      if (colon != String::npos) return Find(name.substr(0, colon), flags);
      TInterface& created = FByName[name];
      created.Record.AdapterName = name;
      created.Record.Description = name;
      created.Record.Index = if_nametoindex(name.c_str());
      created.Record.Type = MIB_IF_TYPE_OTHER;
      it = FByName.find(name);
    }
    if (flags & IFF_LOOPBACK) it->second.Loopback = true;
    return it->second;
  }

  // Non-loopback interfaces in the kernel's order (interface index, then name).
  std::vector<TAdapterRecord> Adapters() {
    std::vector<TAdapterRecord> out;
    for (auto& [name, itf] : FByName) {
      if (!itf.Loopback) out.push_back(std::move(itf.Record));
    }
    std::stable_sort(out.begin(), out.end(), [](const TAdapterRecord& a, const TAdapterRecord& b) {
      return a.Index < b.Index;
    });
    return out;
  }

 private:
  std::map<String, TInterface> FByName;
};

void AddLink(TInterfaceSet& set, const ifaddrs& ifa) {
  TInterface& itf = set.Find(ifa.ifa_name, ifa.ifa_flags);
  if (ifa.ifa_addr == nullptr) return;
  const auto& ll = *reinterpret_cast<const sockaddr_ll*>(ifa.ifa_addr);
  if (ll.sll_ifindex > 0) itf.Record.Index = static_cast<DWORD>(ll.sll_ifindex);
  itf.Record.Type = AdapterType(ll.sll_hatype, itf.Record.AdapterName);
  const size_t length = std::min<size_t>(ll.sll_halen, sizeof ll.sll_addr);
  itf.Record.Address.assign(ll.sll_addr, ll.sll_addr + length);
}

void AddIpv4(TInterfaceSet& set, const ifaddrs& ifa) {
  TInterface& itf = set.Find(ifa.ifa_name, ifa.ifa_flags);
  itf.Record.IpAddresses.push_back({Ipv4Text(ifa.ifa_addr), Ipv4Text(ifa.ifa_netmask)});
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

String ReadWholeFile(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ParseHex(std::string_view field, uint32_t& value) {
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value, 16);
  return ec == std::errc() && end == field.data() + field.size();
}

bool ParseDecimal(std::string_view field, uint32_t& value) {
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value, 10);
  return ec == std::errc() && end == field.data() + field.size();
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

}  // namespace

std::map<String, std::vector<String>> ParseDefaultGateways(std::string_view routeTable) {
  // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; addresses are the
  // network-order words printed as host-order hexadecimal.
  struct TRoute {
    String Iface;
    uint32_t Metric;
    String Gateway;
  };
  std::vector<TRoute> routes;
  size_t pos = 0;
  bool header = true;
  while (pos < routeTable.size()) {
    size_t end = routeTable.find('\n', pos);
    if (end == std::string_view::npos) end = routeTable.size();
    const std::string_view line = routeTable.substr(pos, end - pos);
    pos = end + 1;
    if (header) {
      header = false;
      continue;
    }
    const auto f = SplitFields(line);
    uint32_t destination = 0, gateway = 0, flags = 0, metric = 0, mask = 0;
    if (f.size() < 8 || !ParseHex(f[1], destination) || !ParseHex(f[2], gateway) ||
        !ParseHex(f[3], flags) || !ParseDecimal(f[6], metric) || !ParseHex(f[7], mask)) {
      continue;
    }
    const bool isDefault = destination == 0 && mask == 0;
    if (isDefault && (flags & RTF_UP) && (flags & RTF_GATEWAY) && gateway != 0) {
      routes.push_back({String(f[0]), metric, Ipv4Text(gateway)});
    }
  }
  std::stable_sort(routes.begin(), routes.end(),
                   [](const TRoute& a, const TRoute& b) { return a.Metric < b.Metric; });
  std::map<String, std::vector<String>> gateways;
  for (const TRoute& r : routes) gateways[r.Iface].push_back(r.Gateway);
  return gateways;
}

DWORD ReadHostAdapters(std::vector<TAdapterRecord>& adapters) {
  adapters.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return ErrorFromErrno(errno);
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);

  TInterfaceSet set;
  for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
    if (ifa->ifa_name == nullptr) continue;
    const int family = ifa->ifa_addr != nullptr ? ifa->ifa_addr->sa_family : AF_UNSPEC;
    if (family == AF_PACKET) {
      AddLink(set, *ifa);
    } else if (family == AF_INET) {
      AddIpv4(set, *ifa);
    } else {
      set.Find(ifa->ifa_name, ifa->ifa_flags);  // an interface without addresses is still one
    }
  }
  adapters = set.Adapters();

  const auto gateways = ParseDefaultGateways(ReadWholeFile("/proc/net/route"));
  for (TAdapterRecord& a : adapters) {
    const auto it = gateways.find(a.AdapterName);
    if (it == gateways.end()) continue;
    for (const String& g : it->second) a.Gateways.push_back({g, "255.255.255.255"});
  }
  return ERROR_SUCCESS;
}
