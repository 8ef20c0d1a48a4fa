// The scriptable host-information double: installation, scripted tables and result codes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <qx/platform/hostinfo/HostInfoDouble.h>
#include <qx/platform/hostinfo/HostName.h>
#include <qx/platform/hostinfo/iphlpapi.h>
#include <qx/platform/hostinfo/nb30.h>

namespace {

std::string Text(const IP_ADDRESS_STRING& s) {
  return std::string(s.String, strnlen(s.String, 16));
}

// Caller-side reading: a 60-byte buffer grown to the reported size.
DWORD Read(std::vector<uint64_t>& buffer, std::vector<std::string>& ips) {
  ULONG size = 60;
  DWORD result;
  do {
    buffer.assign(size / 8 + 1, 0);
    result = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  } while (result == ERROR_BUFFER_OVERFLOW);
  ips.clear();
  if (result != ERROR_SUCCESS) return result;
  for (auto* a = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); a; a = a->Next) {
    ips.push_back(Text(a->IpAddressList.IpAddress) + "/" + Text(a->GatewayList.IpAddress));
  }
  return result;
}

UCHAR Status(UCHAR lana, ADAPTER_STATUS& status) {
  NCB ncb{};
  ncb.ncb_command = NCBASTAT;
  ncb.ncb_lana_num = lana;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&status);
  ncb.ncb_length = sizeof status;
  ncb.ncb_callname[0] = '*';
  return Netbios(&ncb);
}

}  // namespace

TEST(HostInfoDoubleTest, ScriptedTableReplacesTheHostUntilTheGuardEnds) {
  std::vector<uint64_t> buffer;
  std::vector<std::string> real, seen;
  const DWORD realResult = Read(buffer, real);
  {
    THostInfoDouble host;
    host.AddAdapter("eth0", "192.168.1.20", "", {0, 1, 2, 3, 4, 5});
    host.AddAdapter("eth1", "", "192.168.2.1");
    host.AddAdapter("eth2", "192.168.3.9", "192.168.3.1");
    ScopedHostInfoDouble guard(host);
    ASSERT_EQ(Read(buffer, seen), ERROR_SUCCESS);
    EXPECT_EQ(seen, (std::vector<std::string>{"192.168.1.20/0.0.0.0", "0.0.0.0/192.168.2.1",
                                              "192.168.3.9/192.168.3.1"}));
    const auto* first = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
    EXPECT_EQ(first->AddressLength, 6u);
    EXPECT_EQ(first->Next->AddressLength, 0u);
    EXPECT_EQ(host.AdaptersInfoCalls(), (std::vector<ULONG>{60, 3 * sizeof(IP_ADAPTER_INFO)}));
  }
  EXPECT_EQ(Read(buffer, seen), realResult);
  EXPECT_EQ(seen, real) << "the host answers again";
}

TEST(HostInfoDoubleTest, ForcedResultsAndAnEmptyTable) {
  THostInfoDouble host;
  ScopedHostInfoDouble guard(host);
  ULONG size = 60;
  EXPECT_EQ(GetAdaptersInfo(nullptr, &size), ERROR_NO_DATA);

  host.AddAdapter("eth0", "10.0.0.1", "10.0.0.254");
  for (DWORD code : {ERROR_NOT_SUPPORTED, ERROR_NO_DATA, ERROR_INVALID_PARAMETER}) {
    host.ForceAdaptersResult(code);
    size = 60;
    EXPECT_EQ(GetAdaptersInfo(nullptr, &size), code);
    EXPECT_EQ(size, 60u) << "size untouched unless scripted";
  }
  // Success that reports no bytes, which a careful caller treats as no adapters.
  host.ForceAdaptersResult(ERROR_SUCCESS, 0);
  EXPECT_EQ(GetAdaptersInfo(nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  host.ClearForcedAdaptersResult();
  std::vector<uint64_t> buffer;
  std::vector<std::string> seen;
  EXPECT_EQ(Read(buffer, seen), ERROR_SUCCESS);
  EXPECT_EQ(seen, (std::vector<std::string>{"10.0.0.1/10.0.0.254"}));
}

TEST(HostInfoDoubleTest, ScriptedLanasAnswerInOrderWithTheirResults) {
  THostInfoDouble host;
  ScopedHostInfoDouble guard(host);
  host.SetLana(3, {0, 0, 0, 0, 0, 0});
  host.SetLana(7, {0xAA, 0xBB, 0xCC, 0x00, 0x11, 0x22}, NRC_INCOMP);
  host.SetLana(9, {1, 2, 3, 4, 5, 6}, NRC_ENVNOTDEF);
  host.SetLana(3, {0, 0, 0, 0, 0, 0x33});  // replaces, keeps its place

  LANA_ENUM lanas{};
  NCB ncb{};
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
  ncb.ncb_length = sizeof lanas;
  ASSERT_EQ(Netbios(&ncb), NRC_GOODRET);
  ASSERT_EQ(lanas.length, 3);
  EXPECT_EQ(lanas.lana[0], 3);
  EXPECT_EQ(lanas.lana[1], 7);
  EXPECT_EQ(lanas.lana[2], 9);

  // A two-byte buffer holds the count and one number.
  ncb.ncb_length = 2;
  EXPECT_EQ(Netbios(&ncb), NRC_INCOMP);
  EXPECT_EQ(lanas.length, 1);

  ADAPTER_STATUS status{};
  EXPECT_EQ(Status(3, status), NRC_GOODRET);
  EXPECT_EQ(status.adapter_address[5], 0x33);
  EXPECT_EQ(Status(7, status), NRC_INCOMP) << "incomplete still delivers the address";
  EXPECT_EQ(status.adapter_address[0], 0xAA);
  EXPECT_EQ(Status(9, status), NRC_ENVNOTDEF);
  EXPECT_EQ(status.adapter_address[0], 0xAA) << "a failing status leaves the buffer";
  EXPECT_EQ(Status(0, status), NRC_BRIDGE);

  const auto calls = host.NetbiosCalls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[2].Command, NCBASTAT);
  EXPECT_EQ(calls[5].Lana, 0);
  EXPECT_EQ(calls[5].Result, NRC_BRIDGE);

  host.ClearLanas();
  EXPECT_EQ(Status(3, status), NRC_BRIDGE);
}

TEST(HostInfoDoubleTest, HostNameAndNestedGuards) {
  const String real = GetLocalHostName();
  EXPECT_FALSE(real.empty());
  THostInfoDouble outer, inner;
  ScopedHostInfoDouble outerGuard(outer);
  EXPECT_EQ(GetLocalHostName(), real) << "unscripted: the real name";
  outer.SetHostName("outer");
  inner.SetHostName("inner");
  {
    ScopedHostInfoDouble innerGuard(inner);
    EXPECT_EQ(GetLocalHostName(), "inner");
  }
  EXPECT_EQ(GetLocalHostName(), "outer");
}

TEST(HostInfoDoubleTest, CallsFromAnotherThreadWhileTheTestRescripts) {
  THostInfoDouble host;
  ScopedHostInfoDouble guard(host);
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    std::vector<uint64_t> buffer;
    std::vector<std::string> seen;
    while (!stop) {
      const DWORD r = Read(buffer, seen);
      EXPECT_TRUE(r == ERROR_SUCCESS || r == ERROR_NO_DATA) << r;
      ++reads;
    }
  });
  // Rescripts until the reader has overlapped with it for a while.
  for (int i = 0; reads < 200 || i < 200; ++i) {
    host.SetAdapters({});
    host.AddAdapter("eth0", "10.0.0." + std::to_string(i % 250), "10.0.0.254");
    host.AddAdapter("eth1", "10.0.1.1", "");
  }
  stop = true;
  reader.join();
}
