// The overlay's hold and fade, driven by the loop's timers: four seconds opaque, then alpha down
// by 2 every tick until it hides at 1; a change during the hold or the fade starts over.
#include <chrono>
#include <vector>

#include <qx/framework/app/Application.h>
#include "../framework/test_app_wait.h"
#include "overlay_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class OverlayTiming : public OverlayTest {
 protected:
  void SetUp() override {
    OverlayTest::SetUp();
    MakeForm();
    // Watch the two handlers at work without changing what they do.
    form->Timer1->SetOnTimer(TNotifyEvent::Callable([this](TObject* s) {
      holdEnded = Clock::now();
      ++holdEnds;
      form->Timer1Timer(s);
    }));
    form->Timer2->SetOnTimer(TNotifyEvent::Callable([this](TObject* s) {
      form->Timer2Timer(s);
      alphas.push_back(form->AlphaBlendValue());
    }));
  }

  void WaitUntil(Clock::time_point t) {
    ASSERT_TRUE(LoopUntil([&] { return Clock::now() >= t; }));
  }

  Clock::time_point holdEnded;
  int holdEnds = 0;
  std::vector<int> alphas;
};

std::vector<int> FullFade() {
  std::vector<int> v;
  for (int a = 253; a >= 1; a -= 2) v.push_back(a);
  return v;
}

TEST_F(OverlayTiming, HoldsFourSecondsThenFadesByTwoAndHidesAtOne) {
  auto shown = Clock::now();
  ShowOverlay(40);
  EXPECT_TRUE(form->Timer1->Enabled());
  EXPECT_FALSE(form->AlphaBlend());
  ASSERT_TRUE(LoopUntil([&] { return !form->Visible(); }, std::chrono::seconds(30)));
  EXPECT_GE(holdEnded - shown, milliseconds(4000));
  EXPECT_EQ(holdEnds, 1);
  EXPECT_EQ(alphas, FullFade());  // 127 ticks
  EXPECT_FALSE(form->Timer1->Enabled());
  EXPECT_FALSE(form->Timer2->Enabled());
  EXPECT_TRUE(form->AlphaBlend());
  EXPECT_EQ(form->AlphaBlendValue(), 1);
  const TVirtualWindowState* s = VirtualWindowState(*form);
  EXPECT_FALSE(s->Visible);
  EXPECT_TRUE(s->AlphaOn);
  EXPECT_EQ(s->Alpha, 1);
}

TEST_F(OverlayTiming, AChangeDuringTheHoldRestartsIt) {
  form->Timer1->SetInterval(400);
  ShowOverlay(40);
  WaitUntil(Clock::now() + milliseconds(250));
  EXPECT_EQ(holdEnds, 0);
  auto again = Clock::now();
  ShowOverlay(41);
  ASSERT_TRUE(LoopUntil([&] { return holdEnds > 0; }));
  EXPECT_GE(holdEnded - again, milliseconds(400));
  EXPECT_TRUE(form->Timer2->Enabled());
  EXPECT_TRUE(form->Visible());
}

TEST_F(OverlayTiming, AChangeDuringTheFadeMakesItOpaqueAndHoldsAgain) {
  form->Timer1->SetInterval(50);
  ShowOverlay(40);
  ASSERT_TRUE(LoopUntil([&] { return form->AlphaBlendValue() < 200; }));
  ASSERT_TRUE(form->Visible());
  ShowOverlay(60);
  EXPECT_FALSE(form->AlphaBlend());
  EXPECT_EQ(form->AlphaBlendValue(), 255);
  EXPECT_FALSE(form->Timer2->Enabled());
  EXPECT_TRUE(form->Timer1->Enabled());
  EXPECT_EQ(VirtualWindowState(*form)->Alpha, 255);
  EXPECT_FALSE(VirtualWindowState(*form)->AlphaOn);
  alphas.clear();
  ASSERT_TRUE(LoopUntil([&] { return !form->Visible(); }));
  EXPECT_EQ(alphas, FullFade());
  EXPECT_EQ(holdEnds, 2);
}

TEST_F(OverlayTiming, ShownAgainAfterHidingItIsPlacedAndOpaque) {
  form->Timer1->SetInterval(20);
  ShowOverlay(40, false, alBottom);
  ASSERT_TRUE(LoopUntil([&] { return !form->Visible(); }));
  ShowOverlay(40, false, alTop);
  EXPECT_TRUE(form->Visible());
  EXPECT_EQ(form->Top(), 0);
  EXPECT_EQ(form->TranslucentFrame().Alpha(128 + 15, 30), 255);
}

}  // namespace
