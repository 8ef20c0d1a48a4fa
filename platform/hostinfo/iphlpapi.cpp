#include <qx/platform/hostinfo/iphlpapi.h>

#include <qx/platform/hostinfo/HostAdapters.h>
#include <qx/platform/hostinfo/HostInfoDouble.h>

DWORD GetAdaptersInfo(PIP_ADAPTER_INFO AdapterInfo, PULONG SizePointer) {
  DWORD result = ERROR_SUCCESS;
  if (DoubleGetAdaptersInfo(AdapterInfo, SizePointer, result)) return result;
  if (SizePointer == nullptr) return ERROR_INVALID_PARAMETER;

  std::vector<TAdapterRecord> adapters;
  result = ReadHostAdapters(adapters);
  if (result != ERROR_SUCCESS) return result;
  return WriteAdapterTable(adapters, AdapterInfo, SizePointer);
}
