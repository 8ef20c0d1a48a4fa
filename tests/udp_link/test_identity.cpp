// The host identity properties, driven through the adapter-table and NetBIOS test double.
#include <gtest/gtest.h>

#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/Forms.h>
#include <qx/platform/hostinfo/HostInfoDouble.h>
#include "UdpTestKit.h"

class Identity : public ::testing::Test {
 protected:
  THostInfoDouble host;
  std::optional<ScopedHostInfoDouble> guard;
  void SetUp() override { guard.emplace(host); }
  TOwned<TQxUDPS> Make() { return TOwned<TQxUDPS>(new TQxUDPS(nullptr)); }
};

TEST_F(Identity, FirstAdapterWithAGatewayAndEveryConfiguredAddress) {
  host.AddAdapter("eth0", "192.168.1.20", "192.168.1.1", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
  host.AddAdapter("down", "", "");  // disconnected: 0.0.0.0, in no list
  host.AddAdapter("lab", "10.0.0.5", "", {0x02, 0, 0, 0, 0, 1});
  host.AddAdapter("wlan0", "10.1.2.3", "10.1.2.254", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
  auto u = Make();
  EXPECT_EQ(u->pcIPs()->ToVector(), (std::vector<String>{"192.168.1.20", "10.0.0.5", "10.1.2.3"}));
  EXPECT_EQ(u->pcIP(), "192.168.1.20");
  u->SetFpcMAC("x");  // re-read from the table: the first adapter with a gateway, no dashes
  EXPECT_EQ(u->pcMAC(), "001A2B3C4D5E");
  // Reading a large table needed a bigger buffer than the first 60 bytes.
  auto calls = host.AdaptersInfoCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], 60u);
}

TEST_F(Identity, WritesAreIgnoredExceptPcIP) {
  host.AddAdapter("eth0", "192.168.1.20", "192.168.1.1", {1, 2, 3, 4, 5, 6});
  host.SetHostName("studio-pc");
  auto u = Make();
  TStringList other;
  other.Add("1.2.3.4");
  u->SetFpcIPs(&other);
  EXPECT_EQ(u->pcIPs()->ToVector(), (std::vector<String>{"192.168.1.20"}));
  u->SetFpcName("x");
  EXPECT_NE(u->pcName(), "x");
  u->SetFpcIP("x");
  EXPECT_EQ(u->pcIP(), "x");
  u->RefreshPcIP();
  EXPECT_EQ(u->pcIP(), "192.168.1.20");
}

TEST_F(Identity, OnlyAnAdapterWithoutGatewayLeavesPcIPAlone) {
  host.AddAdapter("lab", "10.0.0.5", "", {1, 2, 3, 4, 5, 6});
  host.SetLana(0, {9, 8, 7, 6, 5, 4});
  auto u = Make();
  EXPECT_EQ(u->pcIPs()->ToVector(), (std::vector<String>{"10.0.0.5"}));
  EXPECT_EQ(u->pcIP(), "");
  EXPECT_EQ(u->pcMAC(), "090807060504");  // from NetBIOS at construction
  u->SetFpcMAC("x");                      // no adapter with a gateway: kept
  EXPECT_EQ(u->pcMAC(), "090807060504");
}

TEST_F(Identity, FailureMessagesBecomeTheValues) {
  host.ForceAdaptersResult(232);
  auto u = Make();
  EXPECT_EQ(u->pcIPs()->ToVector(),
            (std::vector<String>{"No network adapter on the local computer."}));
  EXPECT_EQ(u->pcIP(), "No network adapter on the local computer.");

  host.ForceAdaptersResult(50);
  u->RefreshPcIP();
  EXPECT_EQ(u->pcIP(),
            "GetAdaptersInfo is not supported by the operating system running on the local "
            "computer.");
  host.ForceAdaptersResult(87);
  u->SetFpcMAC("");
  EXPECT_EQ(u->pcMAC(), "GetAdaptersInfo failed with error #87");
}

TEST_F(Identity, ATableThatKeepsGrowingIsReportedNotChasedForever) {
  host.ForceAdaptersResult(111, 100000);
  auto u = Make();
  EXPECT_EQ(u->pcIPs()->ToVector(),
            (std::vector<String>{"GetAdaptersInfo failed with error #111"}));
  EXPECT_LE(host.AdaptersInfoCalls().size(), 40u);  // a few calls per query, never unbounded
}

TEST_F(Identity, NetbiosTakesTheFirstLanaThatIsNotAllZeros) {
  host.SetLana(3, {0, 0, 0, 0, 0, 0});
  host.SetLana(5, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
  host.SetLana(7, {1, 1, 1, 1, 1, 1});
  auto u = Make();
  EXPECT_EQ(u->pcMAC(), "001A2B3C4D5E");
}

TEST_F(Identity, NetbiosFailuresGiveEmptyOrZeros) {
  host.SetLana(0, {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(Make()->pcMAC(), "000000000000");
  host.ClearLanas();
  host.SetLana(0, {1, 2, 3, 4, 5, 6}, NRC_BRIDGE);
  EXPECT_EQ(Make()->pcMAC(), "");
}

TEST_F(Identity, LoadingAtRunTimeDescribesThisHostNotTheStoredOne) {
  host.AddAdapter("eth0", "192.168.1.20", "192.168.1.1", {1, 2, 3, 4, 5, 6});
  TOwned<TForm> form(new TForm(nullptr));
  ReadComponentFromText(form.get(),
                        "object F: TForm\n  object Udp: TQxUDPS\n    pcIP = '10.9.9.9'\n"
                        "    pcIPs.Strings = (\n      '10.9.9.9')\n    pcMAC = 'FFFFFFFFFFFF'\n"
                        "  end\nend\n");
  auto* u = dynamic_cast<TQxUDPS*>(form->FindComponent("Udp"));
  EXPECT_EQ(u->pcIPs()->ToVector(), (std::vector<String>{"192.168.1.20"}));
  EXPECT_EQ(u->pcIP(), "192.168.1.20");
  EXPECT_EQ(u->pcMAC(), "010203040506");
  // In the designer the stored lines stay.
  TOwned<TForm> designed(new TForm(nullptr));
  ReadComponentFromText(designed.get(),
                        "object F: TForm\n  object Udp: TQxUDPS\n"
                        "    pcIPs.Strings = (\n      '10.9.9.9')\n  end\nend\n",
                        "f.qxf", true);
  auto* d = dynamic_cast<TQxUDPS*>(designed->FindComponent("Udp"));
  EXPECT_EQ(d->pcIPs()->ToVector(), (std::vector<String>{"10.9.9.9"}));
}

TEST(RealHost, IdentityOfThisMachineIsSensible) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  EXPECT_FALSE(u->pcName().empty());
  for (const String& ip : u->pcIPs()->ToVector()) EXPECT_NE(ip, "0.0.0.0");
}
