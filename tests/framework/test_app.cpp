// The application loop: queued calls, Run/Terminate, exception reporting, timers and watches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include <qx/framework/app/Application.h>
#include "tests/framework/test_app_wait.h"

using namespace std::chrono_literals;

TEST(AppLoop, ProcessMessagesRunsQueuedCallsInOrderAndReturnsWhenIdle) {
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) Application->Queue([&order, i] { order.push_back(i); });
  Application->ProcessMessages();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  Application->ProcessMessages();  // nothing due: must not block
  EXPECT_EQ(order.size(), 5u);
}

TEST(AppLoop, CallsQueuedByARunningCallWaitForTheNextTurn) {
  int turns = 0;
  std::function<void()> again = [&] {
    ++turns;
    Application->Queue(again);
  };
  Application->Queue(again);
  Application->ProcessMessages();
  EXPECT_EQ(turns, 1);
  Application->ProcessMessages();
  EXPECT_EQ(turns, 2);
  // Drain the chain so later tests start clean.
  again = [] {};
  Application->ProcessMessages();
}

TEST(AppLoop, HandleMessageWakesForAnotherThreadsCall) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { Application->Queue([&] { ran = true; }); });
  EXPECT_TRUE(LoopUntil([&] { return ran.load(); }));
  worker.join();
}

TEST(AppLoop, HandleMessageReturnsFalseWhenNothingCameWithinTheTimeout) {
  Application->ProcessMessages();
  EXPECT_FALSE(Application->HandleMessage(10ms));
}

TEST(AppLoop, RunReturnsAfterTerminateFromAnotherThread) {
  std::atomic<bool> started{false};
  std::thread worker([&] {
    Application->Queue([&] { started = true; });
    while (!started) std::this_thread::yield();
    Application->Terminate();
  });
  Application->Run();
  worker.join();
  EXPECT_TRUE(started);
  EXPECT_FALSE(Application->Terminated());  // consumed: the loop can run again
  Application->Queue([] { Application->Terminate(); });
  Application->Run();
}

TEST(AppLoop, LoopOnlyCallsAreRefusedOffTheMainThread) {
  std::atomic<int> refused{0};
  std::thread worker([&] {
    try {
      Application->ProcessMessages();
    } catch (const Exception&) {
      ++refused;
    }
    try {
      Application->Run();
    } catch (const Exception&) {
      ++refused;
    }
  });
  worker.join();
  EXPECT_EQ(refused, 2);
}

struct TExceptionLog : TObject {
  std::vector<String> Messages;
  TObject* LastSender = nullptr;
  void Handler(TObject* Sender, const std::exception& e) {
    Messages.push_back(e.what());
    LastSender = Sender;
  }
};

TEST(AppException, GoesToOnExceptionWhenAssigned) {
  TExceptionLog log;
  Application->OnException = TExceptionEvent(&log, &TExceptionLog::Handler);
  try {
    throw Exception("close failed");
  } catch (...) {
    Application->HandleException(&log);
  }
  // An exception leaving a queued call is reported the same way, and the loop goes on.
  Application->Queue([] { throw std::runtime_error("queued failed"); });
  bool later = false;
  Application->Queue([&] { later = true; });
  Application->ProcessMessages();
  Application->OnException = nullptr;
  EXPECT_EQ(log.Messages, (std::vector<String>{"close failed", "queued failed"}));
  EXPECT_TRUE(later);
}

TEST(AppException, GoesToStandardErrorOtherwise) {
  testing::internal::CaptureStderr();
  try {
    throw Exception("bind refused");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  Application->HandleException(nullptr);  // outside a handler: nothing to report
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception: bind refused\n");
}

TEST(AppTimers, RunInDeadlineOrderThenStartOrderAndNeverEarly) {
  std::vector<int> order;
  auto t0 = std::chrono::steady_clock::now();
  std::vector<std::chrono::steady_clock::duration> at(5);
  auto mark = [&](int i) {
    return [&, i] {
      order.push_back(i);
      at[i] = std::chrono::steady_clock::now() - t0;
    };
  };
  Application->StartTimer(30ms, mark(0));
  Application->StartTimer(10ms, mark(1));
  Application->StartTimer(20ms, mark(2));
  Application->StartTimer(0ms, mark(3));
  Application->StartTimer(0ms, mark(4));
  ASSERT_TRUE(LoopUntil([&] { return order.size() == 5; }));
  EXPECT_EQ(order, (std::vector<int>{3, 4, 1, 2, 0}));
  EXPECT_GE(at[0], 30ms);
  EXPECT_GE(at[1], 10ms);
  EXPECT_GE(at[2], 20ms);
}

TEST(AppTimers, CancelledTimersDoNotRun) {
  bool cancelledRan = false;
  bool sentinel = false;
  int64_t id = Application->StartTimer(5ms, [&] { cancelledRan = true; });
  EXPECT_NE(id, 0);
  Application->CancelTimer(id);
  Application->CancelTimer(id);      // twice: harmless
  Application->CancelTimer(-12345);  // unknown: harmless
  Application->StartTimer(20ms, [&] { sentinel = true; });
  ASSERT_TRUE(LoopUntil([&] { return sentinel; }));
  EXPECT_FALSE(cancelledRan);
}

TEST(AppTimers, ATimerStartedByAnotherThreadWakesTheLoop) {
  std::atomic<bool> ran{false};
  std::thread worker([&] { Application->StartTimer(5ms, [&] { ran = true; }); });
  worker.join();
  EXPECT_TRUE(LoopUntil([&] { return ran.load(); }));
}

TEST(AppWatches, ReadableDescriptorRunsItsCallbackUntilRemoved) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int calls = 0;
  int id = Application->AddWatch(fds[0], [&] {
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    ++calls;
  });
  std::thread writer([&] { ASSERT_EQ(write(fds[1], "x", 1), 1); });
  EXPECT_TRUE(LoopUntil([&] { return calls == 1; }));
  writer.join();
  Application->RemoveWatch(id);
  ASSERT_EQ(write(fds[1], "y", 1), 1);
  Application->ProcessMessages();
  EXPECT_EQ(calls, 1);
  close(fds[0]);
  close(fds[1]);
}
