// Packing adapters into a caller's buffer, and reading default gateways from the route table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <qx/platform/hostinfo/AdapterTable.h>
#include <qx/platform/hostinfo/HostAdapters.h>

namespace {

std::string Field(const char* s, size_t n) {
  return std::string(s, strnlen(s, n));
}
std::string Text(const IP_ADDRESS_STRING& s) {
  return Field(s.String, sizeof s.String);
}

TAdapterRecord Adapter(const String& name, std::vector<TIpAddressText> ips,
                       std::vector<TIpAddressText> gateways, std::vector<BYTE> mac = {}) {
  TAdapterRecord a;
  a.AdapterName = name;
  a.Description = name;
  a.IpAddresses = std::move(ips);
  a.Gateways = std::move(gateways);
  a.Address = std::move(mac);
  return a;
}

struct TTable {
  std::vector<uint64_t> Bytes;
  PIP_ADAPTER_INFO First() { return reinterpret_cast<PIP_ADAPTER_INFO>(Bytes.data()); }
  bool Inside(const void* p) const {
    const auto* b = reinterpret_cast<const char*>(Bytes.data());
    return p >= b && p < b + Bytes.size() * 8;
  }
};

TTable Pack(const std::vector<TAdapterRecord>& adapters) {
  TTable t;
  ULONG size = AdapterTableSize(adapters);
  t.Bytes.assign(size / 8, 0x5A5A5A5A5A5A5A5Aull);
  EXPECT_EQ(WriteAdapterTable(adapters, t.First(), &size), ERROR_SUCCESS);
  return t;
}

}  // namespace

TEST(AdapterTableTest, ChainsRecordsAndExtraAddressesInsideTheBuffer) {
  const std::vector<TAdapterRecord> adapters = {
      Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}, {"10.1.0.5", "255.255.0.0"}},
              {{"10.0.0.1", "255.255.255.255"}, {"10.0.0.2", "255.255.255.255"}},
              {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}),
      Adapter("wlan0", {}, {})};
  EXPECT_EQ(AdapterTableSize(adapters), 2 * sizeof(IP_ADAPTER_INFO) + 2 * sizeof(IP_ADDR_STRING));
  TTable t = Pack(adapters);

  IP_ADAPTER_INFO* a = t.First();
  EXPECT_STREQ(a->AdapterName, "eth0");
  ASSERT_EQ(a->AddressLength, 6u);
  EXPECT_EQ(a->Address[5], 0x5E);
  EXPECT_EQ(a->Address[6], 0) << "unused address bytes are zero";
  EXPECT_EQ(Text(a->IpAddressList.IpAddress), "10.0.0.5");
  ASSERT_TRUE(t.Inside(a->IpAddressList.Next));
  EXPECT_EQ(Text(a->IpAddressList.Next->IpAddress), "10.1.0.5");
  EXPECT_EQ(Text(a->IpAddressList.Next->IpMask), "255.255.0.0");
  EXPECT_EQ(a->IpAddressList.Next->Next, nullptr);
  EXPECT_EQ(Text(a->GatewayList.IpAddress), "10.0.0.1");
  ASSERT_TRUE(t.Inside(a->GatewayList.Next));
  EXPECT_EQ(Text(a->GatewayList.Next->IpAddress), "10.0.0.2");
  EXPECT_EQ(a->CurrentIpAddress, nullptr);

  IP_ADAPTER_INFO* b = a->Next;
  ASSERT_TRUE(t.Inside(b));
  EXPECT_EQ(b->Next, nullptr);
  EXPECT_EQ(b->AddressLength, 0u);
  EXPECT_EQ(Text(b->IpAddressList.IpAddress), "0.0.0.0") << "no address shows as 0.0.0.0";
  EXPECT_EQ(Text(b->GatewayList.IpAddress), "0.0.0.0") << "no gateway shows as 0.0.0.0";
  EXPECT_EQ(b->IpAddressList.Next, nullptr);
  EXPECT_EQ(b->HaveWins, 0);
}

TEST(AdapterTableTest, FixedFieldsAreCutToTheirSize) {
  TAdapterRecord a = Adapter(std::string(400, 'n'), {{"123.123.123.1234", "x"}},
                             {{"1234567890123456789", ""}}, std::vector<BYTE>(20, 0xEE));
  TTable t = Pack({a});
  IP_ADAPTER_INFO* r = t.First();
  EXPECT_EQ(Field(r->AdapterName, sizeof r->AdapterName),
            std::string(MAX_ADAPTER_NAME_LENGTH + 3, 'n'));
  EXPECT_EQ(r->AddressLength, static_cast<UINT>(MAX_ADAPTER_ADDRESS_LENGTH));
  // A 16-character text fills its field without a terminator; a longer one is cut at 16.
  EXPECT_EQ(Text(r->IpAddressList.IpAddress), "123.123.123.1234");
  EXPECT_EQ(Text(r->GatewayList.IpAddress), "1234567890123456");
  EXPECT_EQ(Text(r->IpAddressList.IpMask), "x");
}

TEST(AdapterTableTest, ResultCodesAndSizeReporting) {
  const std::vector<TAdapterRecord> one = {Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}}, {})};
  ULONG size = 60;
  EXPECT_EQ(WriteAdapterTable({}, nullptr, &size), ERROR_NO_DATA);
  EXPECT_EQ(WriteAdapterTable(one, nullptr, nullptr), ERROR_INVALID_PARAMETER);

  std::vector<uint64_t> buffer(sizeof(IP_ADAPTER_INFO) / 8, 0x5A5A5A5A5A5A5A5Aull);
  size = sizeof(IP_ADAPTER_INFO) - 1;
  EXPECT_EQ(WriteAdapterTable(one, reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size),
            ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(size, sizeof(IP_ADAPTER_INFO));
  EXPECT_EQ(buffer.front(), 0x5A5A5A5A5A5A5A5Aull);
  EXPECT_EQ(WriteAdapterTable(one, reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size),
            ERROR_SUCCESS);
}

TEST(RouteTableTest, DefaultGatewaysPerInterfaceLowestMetricFirst) {
  const char* table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth0\t00000000\t FE0200C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"
      "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth1\t00000000\t010A0A0A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth2\t00000000\t010B0B0B\t0003\t0\t0\t0\t00000080\t0\t0\t0\n"
      "garbage line\n"
      "eth3\t0000000G\t010C0C0C\t0003\t0\t0\t0\t00000000\n"
      "eth4\t00000000\t010D0D0D\t0003\t0\t0\t0\t00000000";  // no final line end
  const auto gateways = ParseDefaultGateways(table);
  using V = std::vector<String>;
  ASSERT_EQ(gateways.size(), 3u) << "only up, gateway-routed defaults count";
  EXPECT_EQ(gateways.at("eth0"), (V{"192.0.2.254", "192.0.2.1"}));
  EXPECT_EQ(gateways.at("wlan0"), (V{"192.168.1.1"}));
  EXPECT_EQ(gateways.at("eth4"), (V{"13.13.13.1"}));
  EXPECT_TRUE(ParseDefaultGateways("").empty());
}
