// A change reported by the endpoint survives an overlay step that runs before its message is
// handled (the step writes the shared overlay cell with the older volume).
#include "volume_fixture.h"

using NotificationOrder = VolumeTest;

TEST_F(NotificationOrder, AnOverlayStepBetweenReportAndMessageLosesNothing) {
  auto v = Make();
  endpoint->ChangeLevel(0.6f);  // reported on the endpoint's thread, message not yet handled
  ASSERT_TRUE(endpoint->WaitForNotifications(1, std::chrono::seconds(30)));
  v->SetFScreenVolAlign(alTop);  // an overlay step with the volume known before the change
  Application->ProcessMessages();
  EXPECT_EQ(v->Volume(), 60);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().Volume, 60);
}
