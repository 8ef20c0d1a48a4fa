// A scriptable stand-in for the host's adapter table, NetBIOS adapter status and host name, so
// that tests reach cases the test machine does not have (no adapters, a failing query, a LANA
// that reports zeros). Installed for the whole process by ScopedHostInfoDouble; while installed,
// GetAdaptersInfo, Netbios and GetLocalHostName answer from it instead of the host.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <vector>

#include <qx/platform/hostinfo/AdapterTable.h>
#include <qx/platform/hostinfo/NetbiosAnswer.h>

class THostInfoDouble {
 public:
  using TMac = std::array<BYTE, 6>;

  struct TNetbiosCall {
    UCHAR Command;
    UCHAR Lana;
    UCHAR Result;
  };

  // Adapter table, in chain order. Address texts are copied as bytes into the 16-byte fields.
  void SetAdapters(std::vector<TAdapterRecord> adapters);
  // Appends an adapter with one address ("" for none, shown as "0.0.0.0"), one gateway ("" for
  // none) and a hardware address (empty for none).
  void AddAdapter(const String& name, const String& ipAddress, const String& gateway,
                  std::vector<BYTE> mac = {});
  // GetAdaptersInfo returns code without touching the buffer, after writing reportedSize to the
  // size argument when one is given. ClearForcedAdaptersResult returns to the table.
  void ForceAdaptersResult(DWORD code, std::optional<ULONG> reportedSize = std::nullopt);
  void ClearForcedAdaptersResult();

  // Adds or replaces a LANA; NCBENUM lists LANAs in the order they were first set. result is what
  // NCBASTAT on it gets (see TLanaAnswer).
  void SetLana(UCHAR lana, const TMac& mac, UCHAR result = NRC_GOODRET);
  void ClearLanas();

  // The host name GetLocalHostName reports while the double is installed; until one is set it
  // reports the real host name.
  void SetHostName(const String& name);

  // What the callers asked: the buffer size passed to each GetAdaptersInfo call, and each
  // Netbios call's command, LANA and result.
  std::vector<ULONG> AdaptersInfoCalls() const;
  std::vector<TNetbiosCall> NetbiosCalls() const;

  DWORD GetAdaptersInfo(PIP_ADAPTER_INFO buffer, PULONG size);
  UCHAR Netbios(NCB& ncb);
  std::optional<String> HostName() const;

 private:
  mutable std::mutex FLock;
  std::vector<TAdapterRecord> FAdapters;
  std::optional<DWORD> FForcedResult;
  std::optional<ULONG> FForcedSize;
  std::vector<TLanaAnswer> FLanas;
  std::optional<String> FHostName;
  std::vector<ULONG> FAdaptersInfoCalls;
  std::vector<TNetbiosCall> FNetbiosCalls;
};

// Installs a double for the process for the guard's lifetime. Guards nest: each one puts back
// the double that was installed before it, so they must end in reverse order of creation.
class ScopedHostInfoDouble {
 public:
  explicit ScopedHostInfoDouble(THostInfoDouble& hostInfo);
  ~ScopedHostInfoDouble();
  ScopedHostInfoDouble(const ScopedHostInfoDouble&) = delete;
  ScopedHostInfoDouble& operator=(const ScopedHostInfoDouble&) = delete;

 private:
  THostInfoDouble* FPrevious;
};

// For the real entry points: let the installed double answer. False when none is installed (or,
// for the host name, when the installed one has none set).
bool DoubleGetAdaptersInfo(PIP_ADAPTER_INFO buffer, PULONG size, DWORD& result);
bool DoubleNetbios(NCB& ncb, UCHAR& result);
bool DoubleHostName(String& name);
