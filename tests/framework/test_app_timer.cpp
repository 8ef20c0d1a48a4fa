// TTimer: periodic ticks on the loop, and a handler that stops, restarts or frees its timer.
#include <gtest/gtest.h>

#include <vector>

#include <qx/framework/app/Timers.h>
#include "tests/framework/test_app_wait.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Turns the loop until a one-shot loop timer `after` from now has fired, giving a timer under
// test every chance to tick wrongly.
void LoopFor(std::chrono::milliseconds after) {
  bool done = false;
  Application->StartTimer(after, [&] { done = true; });
  ASSERT_TRUE(LoopUntil([&] { return done; }));
}

}  // namespace

TEST(Timer, PublishesEnabledIntervalAndOnTimerWithTheirDefaults) {
  TOwned<TTimer> t(new TTimer(nullptr));
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Interval(), 1000u);
  const TClassInfo* info = t->ClassInfo();
  ASSERT_NE(info->FindProperty("Enabled"), nullptr);
  EXPECT_EQ(info->FindProperty("Enabled")->Default(), 1);
  ASSERT_NE(info->FindProperty("Interval"), nullptr);
  EXPECT_EQ(info->FindProperty("Interval")->Default(), 1000);
  ASSERT_NE(info->FindProperty("OnTimer"), nullptr);
  EXPECT_EQ(info->FindProperty("OnTimer")->Kind(), TPropKind::Event);
  info->FindProperty("Interval")->SetOrd(t.get(), 250);
  EXPECT_EQ(t->Interval(), 250u);
  EXPECT_NE(FindClass("TTimer"), nullptr);
}

TEST(Timer, ReArmsAfterEveryTick) {
  TOwned<TTimer> t(new TTimer(nullptr));
  std::vector<Clock::time_point> ticks;
  t->SetInterval(5);
  auto start = Clock::now();
  t->SetOnTimer(TNotifyEvent::Callable([&](TObject* sender) {
    EXPECT_EQ(sender, t.get());
    ticks.push_back(Clock::now());
  }));
  ASSERT_TRUE(LoopUntil([&] { return ticks.size() >= 4; }));
  t->SetEnabled(false);
  EXPECT_GE(ticks[0] - start, 5ms);
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_GE(ticks[i] - ticks[i - 1], 5ms);
}

TEST(Timer, DisablingInsideOnTimerStopsIt) {
  TOwned<TTimer> t(new TTimer(nullptr));
  int ticks = 0;
  t->SetInterval(2);
  t->SetOnTimer(TNotifyEvent::Callable([&](TObject*) {
    ++ticks;
    t->SetEnabled(false);
  }));
  ASSERT_TRUE(LoopUntil([&] { return ticks > 0; }));
  LoopFor(40ms);
  EXPECT_EQ(ticks, 1);
}

TEST(Timer, FreeingInsideOnTimerIsSafe) {
  auto* t = new TTimer(nullptr);
  int ticks = 0;
  t->SetInterval(2);
  t->SetOnTimer(TNotifyEvent::Callable([&](TObject* sender) {
    ++ticks;
    TObject::Free(sender);
  }));
  ASSERT_TRUE(LoopUntil([&] { return ticks > 0; }));
  LoopFor(40ms);
  EXPECT_EQ(ticks, 1);
}

TEST(Timer, EnablingAgainRestartsTheFullPeriod) {
  TOwned<TTimer> t(new TTimer(nullptr));
  Clock::time_point restarted{};
  Clock::time_point ticked{};
  t->SetInterval(60);
  t->SetOnTimer(TNotifyEvent::Callable([&](TObject*) {
    ticked = Clock::now();
    t->SetEnabled(false);
  }));
  LoopFor(30ms);  // half way through the first period
  restarted = Clock::now();
  t->SetEnabled(true);
  ASSERT_TRUE(LoopUntil([&] { return ticked != Clock::time_point{}; }));
  EXPECT_GE(ticked - restarted, 60ms);
}

TEST(Timer, ZeroIntervalNoHandlerOrDesigningMeansNoTicks) {
  int ticks = 0;
  auto count = TNotifyEvent::Callable([&](TObject*) { ++ticks; });
  TOwned<TTimer> zero(new TTimer(nullptr));
  zero->SetOnTimer(count);
  zero->SetInterval(0);
  TOwned<TTimer> designing(new TTimer(nullptr));
  designing->SetDesigning(true);
  designing->SetInterval(2);
  designing->SetOnTimer(count);
  TOwned<TTimer> armedThenDesigning(new TTimer(nullptr));
  armedThenDesigning->SetInterval(2);
  armedThenDesigning->SetOnTimer(count);
  armedThenDesigning->SetDesigning(true);
  TOwned<TTimer> noHandler(new TTimer(nullptr));
  noHandler->SetInterval(2);
  LoopFor(30ms);
  EXPECT_EQ(ticks, 0);
}

TEST(Timer, WaitsForLoadedWhileStreaming) {
  int ticks = 0;
  TOwned<TTimer> t(new TTimer(nullptr));
  t->SetLoadingState();
  t->SetInterval(2);
  t->SetOnTimer(TNotifyEvent::Callable([&](TObject*) { ++ticks; }));
  LoopFor(20ms);
  EXPECT_EQ(ticks, 0);
  t->Loaded();
  EXPECT_TRUE(LoopUntil([&] { return ticks > 0; }));
}
