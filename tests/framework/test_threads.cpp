// TThread: Synchronize, OnTerminate, FreeOnTerminate, WaitFor and destruction while running.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <vector>

#include <qx/framework/threads/Threads.h>
#include "tests/framework/test_app_wait.h"

namespace {

// A thread whose Execute is a lambda given at construction.
class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> body, bool suspended = true)
      : TThread(suspended), FBody(std::move(body)) {}
  using TThread::Synchronize;

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TLambdaThread&)> FBody;
};

// Records OnTerminate calls (main-thread only state).
struct TTerminateLog : TObject {
  int Calls = 0;
  bool OnMain = true;
  bool ExecuteFinishedFirst = true;
  void Handler(TObject* Sender) {
    ++Calls;
    OnMain = OnMain && TApplication::IsMainThread();
    auto* t = static_cast<TThread*>(Sender);
    ExecuteFinishedFirst = ExecuteFinishedFirst && t->Finished();
  }
};

}  // namespace

TEST(ThreadSynchronize, ManyThreadsKeepEveryCallInOrderWhileMainPumpsMessages) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::vector<std::vector<int>> seen(kThreads);  // touched on the main thread only
  std::atomic<int> offMain{0};
  std::atomic<int> lateReturns{0};
  std::vector<TOwned<TLambdaThread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(new TLambdaThread([&, t](TLambdaThread& self) {
      for (int i = 0; i < kCalls; ++i) {
        bool ran = false;
        self.Synchronize(TThreadMethod::Callable([&] {
          if (!TApplication::IsMainThread()) ++offMain;
          seen[t].push_back(i);
          ran = true;
        }));
        // Synchronize returns only after the method has run.
        if (!ran) ++lateReturns;
      }
    }));
  }
  for (auto& t : threads) t->Start();
  // The components' stop wait: sleep a little, then ProcessMessages, until done.
  auto allFinished = [&] {
    for (auto& t : threads)
      if (!t->Finished()) return false;
    return true;
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!allFinished() && std::chrono::steady_clock::now() < deadline) {
    Sleep(1);
    Application->ProcessMessages();
  }
  ASSERT_TRUE(allFinished());
  threads.clear();  // joins; their OnTerminate calls are served within
  EXPECT_EQ(offMain, 0);
  EXPECT_EQ(lateReturns, 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t(kCalls)) << "thread " << t;
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(ThreadSynchronize, RunsAtOnceOnTheMainThread) {
  int calls = 0;
  TThread::Synchronize(nullptr, TThreadMethod::Callable([&] { ++calls; }));
  EXPECT_EQ(calls, 1);
}

TEST(ThreadSynchronize, ReraisesTheMethodsExceptionInTheWorker) {
  std::atomic<bool> caught{false};
  TOwned<TLambdaThread> t(new TLambdaThread([&](TLambdaThread& self) {
    try {
      self.Synchronize(TThreadMethod::Callable([] { throw Exception("handler failed"); }));
    } catch (const Exception& e) {
      caught = String(e.what()) == "handler failed";
    }
  }));
  t->Start();
  t->WaitFor();
  EXPECT_TRUE(caught);
}

TEST(ThreadTerminate, OnTerminateRunsOnTheMainThreadAfterExecute) {
  TTerminateLog log;
  TOwned<TLambdaThread> t(new TLambdaThread([](TLambdaThread&) {}));
  t->OnTerminate = TNotifyEvent(&log, &TTerminateLog::Handler);
  t->Start();
  ASSERT_TRUE(LoopUntil([&] { return log.Calls > 0; }));
  EXPECT_EQ(log.Calls, 1);
  EXPECT_TRUE(log.OnMain);
  EXPECT_TRUE(log.ExecuteFinishedFirst);
}

TEST(ThreadTerminate, FreeOnTerminateDeletesTheThreadOnTheMainThreadAfterOnTerminate) {
  struct TSelfFreeing : TThread {
    TSelfFreeing(int& order, std::atomic<bool>& deletedOnMain)
        : TThread(true), FOrder(order), FDeletedOnMain(deletedOnMain) {
      FreeOnTerminate = true;
    }
    ~TSelfFreeing() override {
      FDeletedOnMain = TApplication::IsMainThread();
      FOrder = FOrder * 10 + 2;
    }
    void Execute() override {}
    int& FOrder;
    std::atomic<bool>& FDeletedOnMain;
  };
  int order = 0;
  std::atomic<bool> deletedOnMain{false};
  auto* t = new TSelfFreeing(order, deletedOnMain);
  t->OnTerminate = TNotifyEvent::Callable([&](TObject*) { order = order * 10 + 1; });
  t->Start();
  ASSERT_TRUE(LoopUntil([&] { return order == 12; }));
  EXPECT_TRUE(deletedOnMain);
}

TEST(ThreadTerminate, ExceptionLeavingExecuteEndsTheThreadQuietly) {
  TTerminateLog log;
  TOwned<TLambdaThread> t(
      new TLambdaThread([](TLambdaThread&) { throw Exception("socket gone"); }));
  t->OnTerminate = TNotifyEvent(&log, &TTerminateLog::Handler);
  testing::internal::CaptureStderr();
  t->Start();
  t->WaitFor();
  String shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.Calls, 1);
  EXPECT_EQ(shown, "");
  ASSERT_TRUE(t->FatalException() != nullptr);
  EXPECT_THROW(std::rethrow_exception(t->FatalException()), Exception);
}

TEST(ThreadTerminate, ExceptionLeavingExecuteWithoutOnTerminateReachesTheApplication) {
  struct TLog {
    void Handler(TObject* sender, const std::exception& e) {
      Sender = sender;
      Text = e.what();
      OnMain = TApplication::IsMainThread();
    }
    TObject* Sender = nullptr;
    String Text;
    bool OnMain = false;
  } log;
  Application->OnException = TExceptionEvent(&log, &TLog::Handler);
  TOwned<TLambdaThread> t(
      new TLambdaThread([](TLambdaThread&) { throw Exception("socket gone"); }));
  t->Start();
  t->WaitFor();
  Application->OnException = nullptr;
  EXPECT_EQ(log.Sender, t.get());
  EXPECT_EQ(log.Text, "socket gone");
  EXPECT_TRUE(log.OnMain);
}

TEST(ThreadWait, WaitForServesSynchronizeAndOnTerminate) {
  // The main thread never turns the loop itself: WaitFor must.
  int synced = 0;
  TTerminateLog log;
  TOwned<TLambdaThread> t(new TLambdaThread([&](TLambdaThread& self) {
    for (int i = 0; i < 5; ++i) self.Synchronize(TThreadMethod::Callable([&] { ++synced; }));
  }));
  t->OnTerminate = TNotifyEvent(&log, &TTerminateLog::Handler);
  t->Start();
  t->WaitFor();
  EXPECT_EQ(synced, 5);
  EXPECT_EQ(log.Calls, 1);
}

// A wait for a thread is nested: it serves the thread's Synchronize and its end and nothing else,
// even when a handler it serves turns the loop itself. The watch, the timer and the application's
// call that came due meanwhile run afterwards, in order: none runs inside whatever waits, which
// may be tearing down what they use.
TEST(ThreadWait, AWaitRunsNothingButWhatTheThreadNeeds) {
  std::vector<String> log;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  const int watch = Application->AddWatch(fds[0], [&] {
    char c;
    if (read(fds[0], &c, 1) == 1) log.push_back("watch");
  });
  Application->StartTimer(std::chrono::milliseconds(0), [&] { log.push_back("timer"); });
  Application->Queue([&] { log.push_back("queued"); });
  TOwned<TLambdaThread> t(new TLambdaThread([&](TLambdaThread& self) {
    self.Synchronize(TThreadMethod::Callable([&] {
      log.push_back("sync");
      Application->ProcessMessages();
    }));
  }));
  t->OnTerminate = TNotifyEvent::Callable([&](TObject*) { log.push_back("end"); });
  t->Start();
  t->WaitFor();
  EXPECT_EQ(log, (std::vector<String>{"sync", "end"}));
  EXPECT_TRUE(LoopUntil([&] { return log.size() >= 5; }));
  EXPECT_EQ(log, (std::vector<String>{"sync", "end", "queued", "timer", "watch"}));
  Application->RemoveWatch(watch);
  close(fds[0]);
  close(fds[1]);
}

TEST(ThreadWait, FreeingARunningThreadTerminatesItWithoutDeadlock) {
  std::atomic<bool> inLoop{false};
  int synced = 0;
  TTerminateLog log;
  auto* t = new TLambdaThread([&](TLambdaThread& self) {
    inLoop = true;
    while (!self.Terminated()) self.Synchronize(TThreadMethod::Callable([&] { ++synced; }));
  });
  t->OnTerminate = TNotifyEvent(&log, &TTerminateLog::Handler);
  t->Start();
  ASSERT_TRUE(LoopUntil([&] { return inLoop && synced > 0; }));
  TObject::Free(t);  // the thread is blocked in Synchronize or about to be
  EXPECT_EQ(log.Calls, 1);
}

TEST(ThreadWait, OnTerminateMayFreeItsOwnThread) {
  bool freed = false;
  auto* t = new TLambdaThread([](TLambdaThread&) {});
  t->OnTerminate = TNotifyEvent::Callable([&](TObject* sender) {
    TObject::Free(sender);
    freed = true;
  });
  t->Start();
  ASSERT_TRUE(LoopUntil([&] { return freed; }));
}

TEST(ThreadStart, CreatedRunningStartsOnceTheLoopTurns) {
  std::atomic<bool> ran{false};
  TOwned<TLambdaThread> t(new TLambdaThread([&](TLambdaThread&) { ran = true; }, false));
  EXPECT_FALSE(t->Started());
  t->WaitFor();  // serves the queued start
  EXPECT_TRUE(t->Started());
  EXPECT_TRUE(ran);
}

TEST(ThreadStart, MisuseIsRefused) {
  TOwned<TLambdaThread> never(new TLambdaThread([](TLambdaThread&) {}));
  EXPECT_THROW(never->WaitFor(), Exception);

  TOwned<TLambdaThread> t(new TLambdaThread([](TLambdaThread&) {}));
  t->Start();
  EXPECT_THROW(t->Start(), Exception);
  t->WaitFor();

  TOwned<TLambdaThread> self(new TLambdaThread([](TLambdaThread&) {}));
  self->FreeOnTerminate = true;
  EXPECT_THROW(self->WaitFor(), Exception);
}

TEST(ThreadStart, AFreedSuspendedThreadNeverRuns) {
  std::atomic<bool> ran{false};
  TObject::Free(new TLambdaThread([&](TLambdaThread&) { ran = true; }));
  TObject::Free(new TLambdaThread([&](TLambdaThread&) { ran = true; }, false));
  Application->ProcessMessages();  // the queued start of the second finds nothing
  EXPECT_FALSE(ran);
}

TEST(ThreadForcedStop, AnAbandonedThreadNeverReachesTheMainThreadAgain) {
  std::atomic<bool> queued{false};
  std::atomic<bool> pastSecondCall{false};
  int mainCalls = 0;
  TTerminateLog log;
  // Leaked on purpose: an abandoned thread object is never freed.
  auto* t = new TLambdaThread([&](TLambdaThread& self) {
    queued = true;
    self.Synchronize(TThreadMethod::Callable([&] { ++mainCalls; }));
    pastSecondCall = true;  // must never happen: the first call is never answered
  });
  t->OnTerminate = TNotifyEvent(&log, &TTerminateLog::Handler);
  t->Start();
  while (!queued) std::this_thread::yield();
  // The call may or may not be in the queue yet; either way it must never run.
  ASSERT_TRUE(TerminateThread(t, 0));
  EXPECT_TRUE(t->Terminated());
  EXPECT_FALSE(TerminateThread(t, 0));
  Application->ProcessMessages();
  LoopUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(mainCalls, 0);
  EXPECT_EQ(log.Calls, 0);
  EXPECT_FALSE(pastSecondCall);
}

TEST(ThreadForcedStop, AbandonedThreadRunsOnUntilItsCodeReturns) {
  std::atomic<bool> release{false};
  std::atomic<bool> returned{false};
  TTerminateLog log;
  auto* t = new TLambdaThread([&](TLambdaThread&) {
    while (!release) std::this_thread::yield();
    returned = true;
  });
  t->OnTerminate = TNotifyEvent(&log, &TTerminateLog::Handler);
  t->Start();
  ASSERT_TRUE(TerminateThread(t, 0));
  release = true;
  ASSERT_TRUE(LoopUntil([&] { return t->Finished(); }));
  EXPECT_TRUE(returned);
  Application->ProcessMessages();
  EXPECT_EQ(log.Calls, 0);  // no OnTerminate, and the object stays valid (leaked)
  EXPECT_TRUE(t->Terminated());
}

TEST(ThreadForcedStop, NotRunningThreadsAreNotStopped) {
  EXPECT_FALSE(TerminateThread(nullptr, 0));
  TOwned<TLambdaThread> idle(new TLambdaThread([](TLambdaThread&) {}));
  EXPECT_FALSE(TerminateThread(idle.get(), 0));
  TOwned<TLambdaThread> done(new TLambdaThread([](TLambdaThread&) {}));
  done->Start();
  done->WaitFor();
  EXPECT_FALSE(TerminateThread(done.get(), 0));
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  TCriticalSection cs;
  cs.Enter();
  cs.Enter();
  std::atomic<int> otherGot{-1};
  std::thread other([&] {
    otherGot = cs.TryEnter() ? 1 : 0;
    if (otherGot == 1) cs.Leave();
  });
  other.join();
  EXPECT_EQ(otherGot, 0);
  cs.Leave();
  EXPECT_TRUE(cs.TryEnter());  // still held once by this thread: recursion again
  cs.Leave();
  cs.Leave();
  std::thread after([&] {
    otherGot = cs.TryEnter() ? 1 : 0;
    if (otherGot == 1) cs.Leave();
  });
  after.join();
  EXPECT_EQ(otherGot, 1);
}
