// The IP helper's adapter table, GetAdaptersInfo, with the Windows structures, sizes and result
// codes. On Linux the table comes from the kernel's interfaces (see HostAdapters.h); a test can
// replace it with THostInfoDouble.
#pragma once

#include <ctime>

#include <qx/platform/hostinfo/WinDef.h>

constexpr int MAX_ADAPTER_NAME_LENGTH = 256;
constexpr int MAX_ADAPTER_DESCRIPTION_LENGTH = 128;
constexpr int MAX_ADAPTER_ADDRESS_LENGTH = 8;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_NO_DATA = 232;

// Adapter types (IP_ADAPTER_INFO::Type).
constexpr UINT MIB_IF_TYPE_OTHER = 1;
constexpr UINT MIB_IF_TYPE_ETHERNET = 6;
constexpr UINT MIB_IF_TYPE_TOKENRING = 9;
constexpr UINT MIB_IF_TYPE_FDDI = 15;
constexpr UINT MIB_IF_TYPE_PPP = 23;
constexpr UINT MIB_IF_TYPE_LOOPBACK = 24;
constexpr UINT MIB_IF_TYPE_SLIP = 28;
constexpr UINT IF_TYPE_IEEE80211 = 71;

// Dotted IPv4 text in a fixed 16-byte field: zero-terminated when shorter than 16 characters.
struct IP_ADDRESS_STRING {
  char String[4 * 4];
};
using PIP_ADDRESS_STRING = IP_ADDRESS_STRING*;
using IP_MASK_STRING = IP_ADDRESS_STRING;
using PIP_MASK_STRING = IP_MASK_STRING*;

struct IP_ADDR_STRING {
  IP_ADDR_STRING* Next;
  IP_ADDRESS_STRING IpAddress;
  IP_MASK_STRING IpMask;
  DWORD Context;
};
using PIP_ADDR_STRING = IP_ADDR_STRING*;

struct IP_ADAPTER_INFO {
  IP_ADAPTER_INFO* Next;
  DWORD ComboIndex;
  char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
  char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
  UINT AddressLength;
  BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
  DWORD Index;
  UINT Type;
  UINT DhcpEnabled;
  PIP_ADDR_STRING CurrentIpAddress;
  IP_ADDR_STRING IpAddressList;
  IP_ADDR_STRING GatewayList;
  IP_ADDR_STRING DhcpServer;
  BOOL HaveWins;
  IP_ADDR_STRING PrimaryWinsServer;
  IP_ADDR_STRING SecondaryWinsServer;
  time_t LeaseObtained;
  time_t LeaseExpires;
};
using PIP_ADAPTER_INFO = IP_ADAPTER_INFO*;

static_assert(sizeof(IP_ADDRESS_STRING) == 16);
// The record sizes Windows has for the same pointer width; callers size buffers from them.
static_assert(sizeof(void*) != 8 || sizeof(IP_ADDR_STRING) == 48);
static_assert(sizeof(void*) != 8 || sizeof(IP_ADAPTER_INFO) == 704);

// Fills the caller's buffer of *SizePointer bytes with the chain of adapter records; every Next
// (and every further IpAddressList/GatewayList entry) points inside that buffer. Returns
// ERROR_SUCCESS; ERROR_BUFFER_OVERFLOW with the needed size in *SizePointer when the buffer is too
// small (AdapterInfo may then be null); ERROR_NO_DATA when the host has no adapter;
// ERROR_INVALID_PARAMETER for a null SizePointer or a buffer not aligned for the records.
// The loopback interface is not an adapter here, as on Windows.
DWORD GetAdaptersInfo(PIP_ADAPTER_INFO AdapterInfo, PULONG SizePointer);
