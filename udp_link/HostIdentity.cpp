#include <qx/udp_link/HostIdentity.h>

#include <cstring>
#include <vector>

#include <qx/platform/hostinfo/iphlpapi.h>
#include <qx/platform/hostinfo/nb30.h>

namespace {

// The adapter table grows between two calls on a busy host; a handful of retries is plenty, and
// a table that keeps growing is reported like any other failure.
constexpr int kMaxAdapterQueries = 8;

String MacText(const UCHAR* bytes) {
  String s;
  for (int i = 0; i < 6; ++i) s += IntToHex(bytes[i], 2);
  return s;
}

}  // namespace

void GetAdapterList(TStrings* List, bool AllAdapters, bool MACOnly) {
  List->Clear();
  ULONG size = 60;
  std::vector<uint64_t> buffer;  // 8-byte aligned, as the records need
  DWORD result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < kMaxAdapterQueries && result == ERROR_BUFFER_OVERFLOW;
       ++attempt) {
    buffer.assign((size + 7) / 8, 0);
    result = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  }
  if (result == ERROR_SUCCESS && size == 0) result = ERROR_NO_DATA;
  if (result != ERROR_SUCCESS) {
    if (result == ERROR_NOT_SUPPORTED)
      List->Add(
          "GetAdaptersInfo is not supported by the operating system running on the local "
          "computer.");
    else if (result == ERROR_NO_DATA)
      List->Add("No network adapter on the local computer.");
    else
      List->Add("GetAdaptersInfo failed with error #" + IntToStr(static_cast<uint32_t>(result)));
    return;
  }
  auto text = [](const IP_ADDRESS_STRING& s) {
    return String(s.String, strnlen(s.String, sizeof(s.String)));
  };
  for (auto* a = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); a != nullptr; a = a->Next) {
    if (!AllAdapters && text(a->GatewayList.IpAddress) == "0.0.0.0") continue;
    if (text(a->IpAddressList.IpAddress) == "0.0.0.0") continue;
    if (MACOnly) {
      String mac;
      for (UINT i = 0; i < a->AddressLength && i < MAX_ADAPTER_ADDRESS_LENGTH; ++i) {
        if (i > 0) mac += '-';
        mac += IntToHex(a->Address[i], 2);
      }
      List->Add(mac);
    } else {
      List->Add(text(a->IpAddressList.IpAddress));
    }
  }
}

String NetbiosMacAddress() {
  String result;
  NCB ncb;
  LANA_ENUM lenum;
  ADAPTER_STATUS status;
  std::memset(&ncb, 0, sizeof ncb);
  std::memset(&lenum, 0, sizeof lenum);
  std::memset(&status, 0, sizeof status);

  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lenum);
  ncb.ncb_length = sizeof lenum;
  Netbios(&ncb);

  int i = 0;
  do {
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lenum.lana[i];
    Netbios(&ncb);

    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lenum.lana[i];
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&status);
    ncb.ncb_length = sizeof status;
    UCHAR rc = Netbios(&ncb);
    if (rc == NRC_GOODRET || rc == NRC_INCOMP) result = MacText(status.adapter_address);
    ++i;
  } while (i < lenum.length && result == "000000000000");
  return result;
}
