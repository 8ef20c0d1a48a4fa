// Netbios on the test machine's adapters, and the control-block edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <qx/platform/hostinfo/nb30.h>
#include "tests/platform/test_hostinfo_kernel.h"

namespace {

NCB Request(UCHAR command, UCHAR lana, void* buffer, WORD length) {
  NCB ncb{};
  ncb.ncb_command = command;
  ncb.ncb_lana_num = lana;
  ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
  ncb.ncb_length = length;
  std::memcpy(ncb.ncb_callname, "*               ", NCBNAMSZ);
  return ncb;
}

LANA_ENUM Enumerate() {
  LANA_ENUM lanas{};
  NCB ncb = Request(NCBENUM, 0, &lanas, sizeof lanas);
  EXPECT_EQ(Netbios(&ncb), NRC_GOODRET);
  return lanas;
}

}  // namespace

TEST(NetbiosTest, OneLanaPerIpv4EthernetAdapterReportingItsAddress) {
  // Adapters without IPv4 (an ifb device, say) get no LANA: LANA 0 must be an adapter the other
  // identity queries list with an address.
  std::vector<std::vector<uint8_t>> macs;
  for (const TKernelInterface& k : KernelInterfaces()) {
    if (!k.Mac.empty() && k.IpAddress != "0.0.0.0") macs.push_back(k.Mac);
  }
  const LANA_ENUM lanas = Enumerate();
  ASSERT_EQ(lanas.length, macs.size());
  for (size_t i = 0; i < macs.size(); ++i) {
    NCB reset = Request(NCBRESET, lanas.lana[i], nullptr, 0);
    EXPECT_EQ(Netbios(&reset), NRC_GOODRET);

    ADAPTER_STATUS status{};
    NCB astat = Request(NCBASTAT, lanas.lana[i], &status, sizeof status);
    ASSERT_EQ(Netbios(&astat), NRC_GOODRET);
    EXPECT_EQ(astat.ncb_retcode, NRC_GOODRET);
    EXPECT_EQ(astat.ncb_length, sizeof status);
    EXPECT_EQ(std::vector<uint8_t>(status.adapter_address, status.adapter_address + 6), macs[i]);
    EXPECT_EQ(status.name_count, 0);
  }
}

TEST(NetbiosTest, UnknownLanaLeavesTheBufferAlone) {
  const LANA_ENUM lanas = Enumerate();
  const UCHAR missing = static_cast<UCHAR>(lanas.length + 10);
  std::vector<UCHAR> buffer(60, 0xCC);
  NCB astat = Request(NCBASTAT, missing, buffer.data(), 60);
  EXPECT_EQ(Netbios(&astat), NRC_BRIDGE);
  EXPECT_EQ(buffer, std::vector<UCHAR>(60, 0xCC));
  NCB reset = Request(NCBRESET, missing, nullptr, 0);
  EXPECT_EQ(Netbios(&reset), NRC_BRIDGE);
}

TEST(NetbiosTest, ShortBuffersAndBadRequests) {
  const LANA_ENUM lanas = Enumerate();
  if (lanas.length > 0) {
    std::vector<UCHAR> buffer(10, 0xCC);
    NCB astat = Request(NCBASTAT, lanas.lana[0], buffer.data(), 4);
    EXPECT_EQ(Netbios(&astat), NRC_INCOMP) << "the first part only";
    EXPECT_EQ(astat.ncb_length, 4);
    EXPECT_EQ(buffer[4], 0xCC);

    NCB empty = Request(NCBASTAT, lanas.lana[0], buffer.data(), 0);
    EXPECT_EQ(Netbios(&empty), NRC_BUFLEN);
    NCB remote = Request(NCBASTAT, lanas.lana[0], buffer.data(), 10);
    std::memcpy(remote.ncb_callname, "OTHERHOST       ", NCBNAMSZ);
    EXPECT_EQ(Netbios(&remote), NRC_CMDTMO);
  }
  NCB send = Request(NCBSEND, 0, nullptr, 0);
  EXPECT_EQ(Netbios(&send), NRC_ILLCMD);
  EXPECT_EQ(send.ncb_retcode, NRC_ILLCMD);
  LANA_ENUM out{};
  NCB async = Request(NCBENUM | ASYNCH, 0, &out, sizeof out);
  EXPECT_EQ(Netbios(&async), NRC_ILLCMD);
  EXPECT_EQ(Netbios(nullptr), NRC_INVADDRESS);
}
