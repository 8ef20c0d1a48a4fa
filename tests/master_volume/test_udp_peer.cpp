// The configured peer is the linked UDP component's preferred sender for as long as the link
// lasts, so that a crowd of strangers cannot crowd its commands out.
#include "volume_fixture.h"

TEST_F(VolumeTest, TheRemoteIPIsTheLinkedComponentsPreferredSender) {
  TOwned<TComponent> owner(new TComponent(nullptr));
  auto* udp = new TQxUDPS(owner.get());
  auto* v = new TProbedMasterVol(owner.get());
  Record(v);
  v->SetFUdpRemoteIP("127.0.0.5");
  v->setFUdp(udp);
  EXPECT_EQ(udp->UDPPreferredIP(), "127.0.0.5");
  v->SetFUdpRemoteIP("127.0.0.6");
  EXPECT_EQ(udp->UDPPreferredIP(), "127.0.0.6");
  v->setFUdp(nullptr);
  EXPECT_EQ(udp->UDPPreferredIP(), "");
}
