// The real adapter table of the test machine, against what ioctl reports for its interfaces.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

#include <qx/platform/hostinfo/HostAdapters.h>
#include <qx/platform/hostinfo/iphlpapi.h>
#include "tests/platform/test_hostinfo_kernel.h"

namespace {

std::string Text(const IP_ADDRESS_STRING& s) {
  return std::string(s.String, strnlen(s.String, 16));
}

bool IsDottedQuad(const std::string& s) {
  in_addr addr{};
  return inet_pton(AF_INET, s.c_str(), &addr) == 1;
}

bool Inside(const void* p, const std::vector<uint64_t>& buffer) {
  const auto* begin = reinterpret_cast<const char*>(buffer.data());
  const auto* c = static_cast<const char*>(p);
  return c >= begin && c < begin + buffer.size() * sizeof(uint64_t);
}

// Reads the table the way callers do: grow the buffer to the reported size and ask again.
DWORD ReadTable(std::vector<uint64_t>& buffer) {
  ULONG size = 60;
  buffer.assign(1 + size / sizeof(uint64_t), 0);
  DWORD result = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  for (int i = 0; i < 5 && result == ERROR_BUFFER_OVERFLOW; ++i) {
    buffer.assign(size / sizeof(uint64_t) + 1, 0);
    result = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  }
  return result;
}

}  // namespace

TEST(HostAdaptersTest, TableListsTheNonLoopbackInterfacesInKernelOrder) {
  const auto kernel = KernelInterfaces();
  std::vector<uint64_t> buffer;
  const DWORD result = ReadTable(buffer);
  if (kernel.empty()) {
    EXPECT_EQ(result, ERROR_NO_DATA) << "a host with only loopback has no adapter";
    return;
  }
  ASSERT_EQ(result, ERROR_SUCCESS);

  size_t i = 0;
  for (auto* a = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); a != nullptr; a = a->Next) {
    ASSERT_TRUE(Inside(a, buffer));
    ASSERT_LT(i, kernel.size()) << "more adapters than interfaces";
    const TKernelInterface& k = kernel[i++];
    SCOPED_TRACE(k.Name);
    EXPECT_EQ(a->AdapterName, k.Name);
    EXPECT_EQ(a->Index, k.Index);
    EXPECT_EQ(Text(a->IpAddressList.IpAddress), k.IpAddress);
    EXPECT_TRUE(IsDottedQuad(Text(a->IpAddressList.IpMask)));
    for (IP_ADDR_STRING* e = a->IpAddressList.Next; e != nullptr; e = e->Next) {
      ASSERT_TRUE(Inside(e, buffer));
      EXPECT_TRUE(IsDottedQuad(Text(e->IpAddress)));
    }
    const std::string gateway = Text(a->GatewayList.IpAddress);
    EXPECT_TRUE(IsDottedQuad(gateway)) << gateway;
    if (!k.Mac.empty()) {
      ASSERT_EQ(a->AddressLength, 6u);
      EXPECT_EQ(std::vector<uint8_t>(a->Address, a->Address + 6), k.Mac);
    }
  }
  EXPECT_EQ(i, kernel.size()) << "every non-loopback interface is an adapter";
}

TEST(HostAdaptersTest, AdaptersWithADefaultRouteShowItsGateway) {
  // Interfaces that carry a default route, read with a plain scan of the route table.
  std::set<std::string> routed;
  std::ifstream route("/proc/net/route");
  std::string line;
  std::getline(route, line);
  while (std::getline(route, line)) {
    char iface[IFNAMSIZ + 1] = {};
    unsigned destination = 1, gateway = 0, flags = 0, mask = 1;
    if (std::sscanf(line.c_str(), "%16s %x %x %x %*d %*d %*d %x", iface, &destination, &gateway,
                    &flags, &mask) == 5 &&
        destination == 0 && mask == 0 && gateway != 0 && (flags & 3) == 3) {
      routed.insert(iface);
    }
  }

  std::vector<TAdapterRecord> adapters;
  ASSERT_EQ(ReadHostAdapters(adapters), ERROR_SUCCESS);
  for (const TAdapterRecord& a : adapters) {
    SCOPED_TRACE(a.AdapterName);
    EXPECT_EQ(!a.Gateways.empty(), routed.count(a.AdapterName) == 1);
    for (const TIpAddressText& g : a.Gateways) {
      EXPECT_TRUE(IsDottedQuad(g.IpAddress));
      EXPECT_NE(g.IpAddress, "0.0.0.0");
    }
  }
}

TEST(HostAdaptersTest, SizeQueriesAndBadArguments) {
  if (KernelInterfaces().empty()) GTEST_SKIP() << "only loopback here; nothing to size";
  ULONG size = 0;
  ASSERT_EQ(GetAdaptersInfo(nullptr, &size), ERROR_BUFFER_OVERFLOW);
  EXPECT_GE(size, sizeof(IP_ADAPTER_INFO));
  EXPECT_EQ(size % 8, 0u);

  ULONG small = 60;
  std::vector<uint64_t> buffer(size / 8 + 1, 0xABABABABABABABABull);
  ASSERT_EQ(GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &small),
            ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(small, size);
  EXPECT_EQ(buffer[0], 0xABABABABABABABABull) << "a too-small buffer is left alone";

  EXPECT_EQ(GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), nullptr),
            ERROR_INVALID_PARAMETER);
  auto* misaligned = reinterpret_cast<PIP_ADAPTER_INFO>(reinterpret_cast<char*>(buffer.data()) + 1);
  ULONG room = size;
  EXPECT_EQ(GetAdaptersInfo(misaligned, &room), ERROR_INVALID_PARAMETER);
}
