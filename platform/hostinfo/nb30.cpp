#include <qx/platform/hostinfo/nb30.h>

#include <algorithm>

#include <qx/platform/hostinfo/HostAdapters.h>
#include <qx/platform/hostinfo/HostInfoDouble.h>
#include <qx/platform/hostinfo/NetbiosAnswer.h>

namespace {

// One LANA per adapter that carries IPv4 (NetBIOS over TCP/IP binds no other) and has an
// Ethernet-style (six-byte, not all zero) hardware address, numbered from 0 in the adapter
// table's order: LANA 0 is then the first adapter the adapter table lists with an address. Re-read
// on every call, as adapters come and go.
std::vector<TLanaAnswer> HostLanas() {
  std::vector<TAdapterRecord> adapters;
  std::vector<TLanaAnswer> lanas;
  if (ReadHostAdapters(adapters) != 0) return lanas;
  for (const TAdapterRecord& a : adapters) {
    const bool allZero = std::all_of(a.Address.begin(), a.Address.end(), [](BYTE b) { return !b; });
    const bool ipv4 =
        std::any_of(a.IpAddresses.begin(), a.IpAddresses.end(),
                    [](const TIpAddressText& ip) { return ip.IpAddress != "0.0.0.0"; });
    if (!ipv4 || a.Address.size() != 6 || allZero || lanas.size() > MAX_LANA) continue;
    TLanaAnswer lana;
    lana.Lana = static_cast<UCHAR>(lanas.size());
    std::copy(a.Address.begin(), a.Address.end(), lana.Address.begin());
    lanas.push_back(lana);
  }
  return lanas;
}

}  // namespace

UCHAR Netbios(PNCB ncb) {
  if (ncb == nullptr) return NRC_INVADDRESS;
  UCHAR result = NRC_GOODRET;
  if (DoubleNetbios(*ncb, result)) return result;
  return AnswerNcb(*ncb, HostLanas());
}
