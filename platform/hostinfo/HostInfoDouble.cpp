#include <qx/platform/hostinfo/HostInfoDouble.h>

namespace {

// The installed double. Calls into it are made under this lock, so a guard cannot uninstall
// (and its owner destroy) a double another thread is using.
std::mutex gInstallLock;
THostInfoDouble* gInstalled = nullptr;

}  // namespace

void THostInfoDouble::SetAdapters(std::vector<TAdapterRecord> adapters) {
  std::lock_guard lock(FLock);
  FAdapters = std::move(adapters);
}

void THostInfoDouble::AddAdapter(const String& name, const String& ipAddress, const String& gateway,
                                 std::vector<BYTE> mac) {
  TAdapterRecord a;
  a.AdapterName = name;
  a.Description = name;
  a.Address = std::move(mac);
  if (!ipAddress.empty()) a.IpAddresses.push_back({ipAddress, "255.255.255.0"});
  if (!gateway.empty()) a.Gateways.push_back({gateway, "255.255.255.255"});
  std::lock_guard lock(FLock);
  a.Index = static_cast<DWORD>(FAdapters.size() + 1);
  FAdapters.push_back(std::move(a));
}

void THostInfoDouble::ForceAdaptersResult(DWORD code, std::optional<ULONG> reportedSize) {
  std::lock_guard lock(FLock);
  FForcedResult = code;
  FForcedSize = reportedSize;
}

void THostInfoDouble::ClearForcedAdaptersResult() {
  std::lock_guard lock(FLock);
  FForcedResult.reset();
  FForcedSize.reset();
}

void THostInfoDouble::SetLana(UCHAR lana, const TMac& mac, UCHAR result) {
  std::lock_guard lock(FLock);
  for (TLanaAnswer& a : FLanas) {
    if (a.Lana == lana) {
      a = {lana, result, mac};
      return;
    }
  }
  FLanas.push_back({lana, result, mac});
}

void THostInfoDouble::ClearLanas() {
  std::lock_guard lock(FLock);
  FLanas.clear();
}

void THostInfoDouble::SetHostName(const String& name) {
  std::lock_guard lock(FLock);
  FHostName = name;
}

std::vector<ULONG> THostInfoDouble::AdaptersInfoCalls() const {
  std::lock_guard lock(FLock);
  return FAdaptersInfoCalls;
}

std::vector<THostInfoDouble::TNetbiosCall> THostInfoDouble::NetbiosCalls() const {
  std::lock_guard lock(FLock);
  return FNetbiosCalls;
}

DWORD THostInfoDouble::GetAdaptersInfo(PIP_ADAPTER_INFO buffer, PULONG size) {
  std::lock_guard lock(FLock);
  FAdaptersInfoCalls.push_back(size != nullptr ? *size : 0);
  if (!FForcedResult) return WriteAdapterTable(FAdapters, buffer, size);
  if (FForcedSize && size != nullptr) *size = *FForcedSize;
  return *FForcedResult;
}

UCHAR THostInfoDouble::Netbios(NCB& ncb) {
  std::lock_guard lock(FLock);
  const UCHAR result = AnswerNcb(ncb, FLanas);
  FNetbiosCalls.push_back({ncb.ncb_command, ncb.ncb_lana_num, result});
  return result;
}

std::optional<String> THostInfoDouble::HostName() const {
  std::lock_guard lock(FLock);
  return FHostName;
}

ScopedHostInfoDouble::ScopedHostInfoDouble(THostInfoDouble& hostInfo) {
  std::lock_guard lock(gInstallLock);
  FPrevious = gInstalled;
  gInstalled = &hostInfo;
}

ScopedHostInfoDouble::~ScopedHostInfoDouble() {
  std::lock_guard lock(gInstallLock);
  gInstalled = FPrevious;
}

bool DoubleGetAdaptersInfo(PIP_ADAPTER_INFO buffer, PULONG size, DWORD& result) {
  std::lock_guard lock(gInstallLock);
  if (gInstalled == nullptr) return false;
  result = gInstalled->GetAdaptersInfo(buffer, size);
  return true;
}

bool DoubleNetbios(NCB& ncb, UCHAR& result) {
  std::lock_guard lock(gInstallLock);
  if (gInstalled == nullptr) return false;
  result = gInstalled->Netbios(ncb);
  return true;
}

bool DoubleHostName(String& name) {
  std::lock_guard lock(gInstallLock);
  if (gInstalled == nullptr) return false;
  const std::optional<String> scripted = gInstalled->HostName();
  if (!scripted) return false;
  name = *scripted;
  return true;
}
