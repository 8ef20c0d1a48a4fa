#include <qx/platform/hostinfo/AdapterTable.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;

const TIpAddressText kNoAddress{"0.0.0.0", "0.0.0.0"};

size_t ExtraEntries(const std::vector<TIpAddressText>& list) {
  return list.empty() ? 0 : list.size() - 1;
}

uint64_t NeededBytes(const std::vector<TAdapterRecord>& adapters) {
  uint64_t bytes = 0;
  for (const TAdapterRecord& a : adapters) {
    bytes += sizeof(IP_ADAPTER_INFO);
    bytes += (ExtraEntries(a.IpAddresses) + ExtraEntries(a.Gateways)) * sizeof(IP_ADDR_STRING);
  }
  return bytes;
}

// Copies text into a fixed field; keepTerminator reserves the last byte for a zero.
template <size_t N>
void CopyText(char (&field)[N], const String& text, bool keepTerminator) {
  const size_t room = keepTerminator ? N - 1 : N;
  std::memcpy(field, text.data(), std::min(room, text.size()));
}

void FillEntry(IP_ADDR_STRING& entry, const TIpAddressText& text) {
  CopyText(entry.IpAddress.String, text.IpAddress, false);
  CopyText(entry.IpMask.String, text.IpMask, false);
}

// Fills head with the first text and chains the rest from the overflow area.
void FillList(IP_ADDR_STRING& head, const std::vector<TIpAddressText>& texts,
              IP_ADDR_STRING*& overflow) {
  FillEntry(head, texts.empty() ? kNoAddress : texts.front());
  IP_ADDR_STRING* last = &head;
  for (size_t i = 1; i < texts.size(); ++i) {
    IP_ADDR_STRING* entry = new (overflow++) IP_ADDR_STRING();
    FillEntry(*entry, texts[i]);
    last->Next = entry;
    last = entry;
  }
}

void FillRecord(IP_ADAPTER_INFO& info, const TAdapterRecord& a, IP_ADDR_STRING*& overflow) {
  info.ComboIndex = a.Index;
  CopyText(info.AdapterName, a.AdapterName, true);
  CopyText(info.Description, a.Description, true);
  info.AddressLength = static_cast<UINT>(std::min<size_t>(a.Address.size(), sizeof info.Address));
  std::copy_n(a.Address.begin(), info.AddressLength, info.Address);
  info.Index = a.Index;
  info.Type = a.Type;
  FillList(info.IpAddressList, a.IpAddresses, overflow);
  FillList(info.GatewayList, a.Gateways, overflow);
  FillEntry(info.DhcpServer, kNoAddress);
  FillEntry(info.PrimaryWinsServer, kNoAddress);
  FillEntry(info.SecondaryWinsServer, kNoAddress);
}

}  // namespace

ULONG AdapterTableSize(const std::vector<TAdapterRecord>& adapters) {
  const uint64_t bytes = NeededBytes(adapters);
  return bytes > std::numeric_limits<ULONG>::max() ? 0 : static_cast<ULONG>(bytes);
}

DWORD WriteAdapterTable(const std::vector<TAdapterRecord>& adapters, PIP_ADAPTER_INFO buffer,
                        PULONG size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  if (adapters.empty()) return ERROR_NO_DATA;
  const ULONG needed = AdapterTableSize(adapters);
  if (needed == 0) return ERROR_NOT_ENOUGH_MEMORY;
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return ERROR_BUFFER_OVERFLOW;
  }
  // The records hold pointers: writing them through a misaligned address is not allowed here.
  if (reinterpret_cast<uintptr_t>(buffer) % alignof(IP_ADAPTER_INFO) != 0) {
    return ERROR_INVALID_PARAMETER;
  }

  // Zeroes the whole area, padding included, and starts the records' lifetimes in it.
  std::memset(static_cast<void*>(buffer), 0, needed);
  auto* overflow = reinterpret_cast<IP_ADDR_STRING*>(buffer + adapters.size());
  for (size_t i = 0; i < adapters.size(); ++i) {
    IP_ADAPTER_INFO& info = *new (&buffer[i]) IP_ADAPTER_INFO();
    FillRecord(info, adapters[i], overflow);
    info.Next = i + 1 < adapters.size() ? &buffer[i + 1] : nullptr;
  }
  return ERROR_SUCCESS;
}
