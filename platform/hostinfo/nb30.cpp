#include "platform/hostinfo/nb30.h"

#include <algorithm>

#include "platform/hostinfo/HostAdapters.h"
#include "platform/hostinfo/HostInfoDouble.h"
#include "platform/hostinfo/NetbiosAnswer.h"

namespace {

// One LANA per adapter with an Ethernet-style (six-byte, not all zero) hardware address, numbered
// from 0 in adapter order. Re-read on every call, as adapters come and go.
std::vector<TLanaAnswer> HostLanas() {
  std::vector<TAdapterRecord> adapters;
  std::vector<TLanaAnswer> lanas;
  if (ReadHostAdapters(adapters) != 0) return lanas;
  for (const TAdapterRecord& a : adapters) {
    const bool allZero = std::all_of(a.Address.begin(), a.Address.end(), [](BYTE b) { return !b; });
    if (a.Address.size() != 6 || allZero || lanas.size() > MAX_LANA) continue;
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
