// An adapter as plain data, and the packing of a list of adapters into a caller's GetAdaptersInfo
// buffer; the host's table and the test double's table go through the same packing.
#pragma once

#include <vector>

#include <qx/framework/core/System.h>
#include <qx/platform/hostinfo/iphlpapi.h>

// One IP_ADDR_STRING entry: texts are copied as bytes into the 16-byte fields, cut at 16 (a
// 16-character text then has no terminating zero, as the field allows).
struct TIpAddressText {
  String IpAddress;
  String IpMask;
};

struct TAdapterRecord {
  String AdapterName;
  String Description;
  DWORD Index = 0;
  UINT Type = MIB_IF_TYPE_ETHERNET;
  // The hardware address; the table keeps the first MAX_ADAPTER_ADDRESS_LENGTH bytes.
  std::vector<BYTE> Address;
  // None gives the single entry "0.0.0.0"/"0.0.0.0", as for an adapter without an address.
  std::vector<TIpAddressText> IpAddresses;
  // Default gateways; none gives the single entry "0.0.0.0".
  std::vector<TIpAddressText> Gateways;
};

// Bytes the chain for these adapters needs: the records first, then every IP_ADDR_STRING beyond
// the first of each list. Zero when it would not fit in a ULONG.
ULONG AdapterTableSize(const std::vector<TAdapterRecord>& adapters);

// GetAdaptersInfo's contract for a given list of adapters (see iphlpapi.h).
DWORD WriteAdapterTable(const std::vector<TAdapterRecord>& adapters, PIP_ADAPTER_INFO buffer,
                        PULONG size);
