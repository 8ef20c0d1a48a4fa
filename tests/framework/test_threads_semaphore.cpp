// Named semaphores: one object per name across handles, threads and processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <qx/framework/threads/Threads.h>

namespace {

// A name no other test run shares, removed again at the end.
class NamedSemaphoreTest : public testing::Test {
 protected:
  void SetUp() override {
    FName = "QxTestSemaphore_" + IntToStr(getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    TNamedSemaphore::Unlink(FName);
  }
  void TearDown() override { TNamedSemaphore::Unlink(FName); }
  String FName;
};

}  // namespace

TEST_F(NamedSemaphoreTest, TwoHandlesShareOneCount) {
  TNamedSemaphore a(FName, 0, 1);
  TNamedSemaphore b(FName, 1, 1);  // exists already: its initial count is ignored
  ASSERT_TRUE(a.Valid());
  ASSERT_TRUE(b.Valid());
  EXPECT_FALSE(b.Wait(0));
  EXPECT_FALSE(a.Wait(20));
  EXPECT_TRUE(a.Release());
  EXPECT_FALSE(b.Release());  // at the maximum of 1
  EXPECT_TRUE(b.Wait(0));
  EXPECT_FALSE(a.Wait(0));
}

TEST_F(NamedSemaphoreTest, AReleaseEndsAnotherThreadsWait) {
  TNamedSemaphore waiterHandle(FName, 0, 1);
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = waiterHandle.Wait(-1) ? 1 : 0; });
  TNamedSemaphore releaser(FName, 0, 1);
  EXPECT_TRUE(releaser.Release());
  waiter.join();
  EXPECT_EQ(result, 1);
}

TEST_F(NamedSemaphoreTest, IsOneObjectAcrossProcesses) {
  TNamedSemaphore parent(FName, 0, 1);
  ASSERT_TRUE(parent.Valid());
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only async-signal-safe work here: the parent may have had threads.
    TNamedSemaphore mine(FName, 0, 1);
    _exit(mine.Valid() && mine.Release() ? 0 : 1);
  }
  EXPECT_TRUE(parent.Wait(20000));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(NamedSemaphoreTest, BadArgumentsGiveAnInvalidHandle) {
  TNamedSemaphore empty("", 0, 1);
  EXPECT_FALSE(empty.Valid());
  EXPECT_FALSE(empty.Wait(0));
  EXPECT_FALSE(empty.Release());
  TNamedSemaphore noRoom(FName, 0, 0);
  EXPECT_FALSE(noRoom.Valid());
  TNamedSemaphore overFull(FName, 3, 2);
  EXPECT_FALSE(overFull.Valid());
}

TEST(NamedSemaphoreName, WindowsNamesMapToValidPosixNames) {
  EXPECT_EQ(TNamedSemaphore::PosixName("UDPQxSrvThreadDelaySemaphore"),
            "/UDPQxSrvThreadDelaySemaphore");
  EXPECT_EQ(TNamedSemaphore::PosixName("Global\\Name"), "/Name");
  EXPECT_EQ(TNamedSemaphore::PosixName("Local\\Name"), "/Name");
  EXPECT_EQ(TNamedSemaphore::PosixName("a/b/c"), "/a_b_c");
  String longA(400, 'a');
  String longB = longA;
  longB.back() = 'b';
  String pa = TNamedSemaphore::PosixName(longA);
  String pb = TNamedSemaphore::PosixName(longB);
  EXPECT_LE(pa.size(), 251u);
  EXPECT_NE(pa, pb);
  TNamedSemaphore usable(longA, 0, 1);
  EXPECT_TRUE(usable.Valid());
  TNamedSemaphore::Unlink(longA);
}

TEST_F(NamedSemaphoreTest, LivesWhileAnyHandleIsOpenAndStartsAfreshAfterwards) {
  {
    TNamedSemaphore a(FName, 0, 1);
    ASSERT_TRUE(a.Release());
  }
  TNamedSemaphore b(FName, 0, 1);  // the last handle closed: a new semaphore with count 0
  EXPECT_FALSE(b.Wait(0));
  {
    TNamedSemaphore c(FName, 0, 1);
    ASSERT_TRUE(c.Release());
  }
  EXPECT_TRUE(b.Wait(0));  // b kept it alive, count and all
}
