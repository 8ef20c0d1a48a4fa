// Hidden windows: posted messages, window procedure slot, registered message numbers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <qx/framework/app/Messages.h>
#include "tests/framework/test_app_wait.h"

namespace {

struct TReceiver : TObject {
  std::vector<TMessage> Got;
  bool OffMain = false;
  void WndProc(TMessage& m) {
    OffMain = OffMain || !TApplication::IsMainThread();
    Got.push_back(m);
    m.Result = static_cast<LRESULT>(m.WParam) * 2;
  }
};

}  // namespace

TEST(Messages, PostedMessagesReachTheMethodOnTheMainThreadInOrder) {
  constexpr int kThreads = 4;
  constexpr int kPosts = 250;
  TReceiver r;
  HWND wnd = AllocateHWnd(TWndMethod(&r, &TReceiver::WndProc));
  ASSERT_TRUE(IsWindow(wnd));
  std::vector<std::thread> posters;
  std::atomic<int> failed{0};
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i)
        if (!PostMessageW(wnd, WM_USER + t, i, -i)) ++failed;
    });
  }
  for (auto& p : posters) p.join();
  ASSERT_TRUE(LoopUntil([&] { return r.Got.size() == size_t(kThreads * kPosts); }));
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(r.OffMain);
  std::vector<WPARAM> next(kThreads, 0);
  for (const TMessage& m : r.Got) {
    int t = static_cast<int>(m.Msg - WM_USER);
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    ASSERT_EQ(m.WParam, next[t]) << "poster " << t;
    ASSERT_EQ(m.LParam, -static_cast<LPARAM>(next[t]));
    ++next[t];
  }
  DeallocateHWnd(wnd);
}

TEST(Messages, PostToADestroyedWindowFailsAndQueuedOnesAreDropped) {
  TReceiver r;
  HWND wnd = AllocateHWnd(TWndMethod(&r, &TReceiver::WndProc));
  EXPECT_TRUE(PostMessageW(wnd, WM_USER, 1, 0));
  DeallocateHWnd(wnd);
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(PostMessageW(wnd, WM_USER, 2, 0));
  EXPECT_FALSE(PostMessageW(nullptr, WM_USER, 3, 0));
  EXPECT_FALSE(DestroyWindow(wnd));
  Application->ProcessMessages();
  EXPECT_TRUE(r.Got.empty());
  // A new window never takes the old handle.
  HWND other = AllocateHWnd(TWndMethod(&r, &TReceiver::WndProc));
  EXPECT_NE(other, wnd);
  DeallocateHWnd(other);
}

TEST(Messages, RegisteredNumbersAreStablePerNameWhateverTheCase) {
  UINT a = RegisterWindowMessageW("winmm_devicechange");
  UINT b = RegisterWindowMessageW("WINMM_DeviceChange");
  UINT c = RegisterWindowMessageW("another_message");
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageW(""), 0u);
  UINT fromThread = 0;
  std::thread([&] { fromThread = RegisterWindowMessageW("winmm_devicechange"); }).join();
  EXPECT_EQ(fromThread, a);
}

TEST(Messages, ProcedureSlotCanBeReadReplacedAndPutBack) {
  TReceiver r;
  HWND wnd = AllocateHWnd(TWndMethod(&r, &TReceiver::WndProc));
  auto defProc = reinterpret_cast<LONG_PTR>(&DefWindowProcW);
  LONG_PTR own = GetWindowLongW(wnd, GWL_WNDPROC);
  EXPECT_NE(own, 0);
  EXPECT_NE(own, defProc);
  EXPECT_EQ(SendMessageW(wnd, WM_USER, 21, 0), 42);

  // The default procedure answers 0 and the method hears nothing.
  EXPECT_EQ(SetWindowLongW(wnd, GWL_WNDPROC, defProc), own);
  EXPECT_EQ(SendMessageW(wnd, WM_USER, 21, 0), 0);
  EXPECT_EQ(r.Got.size(), 1u);
  EXPECT_EQ(DefWindowProcW(wnd, WM_USER, 5, 5), 0);

  // Arbitrary numbers are refused, and the slot keeps its value.
  EXPECT_EQ(SetWindowLongW(wnd, GWL_WNDPROC, 0x1234), 0);
  EXPECT_EQ(GetWindowLongW(wnd, GWL_WNDPROC), defProc);

  EXPECT_EQ(SetWindowLongW(wnd, GWL_WNDPROC, own), defProc);
  EXPECT_EQ(SendMessageW(wnd, WM_USER, 4, 0), 8);

  // A freed instance still in the slot behaves as the default procedure.
  FreeObjectInstance(reinterpret_cast<void*>(own));
  EXPECT_EQ(SendMessageW(wnd, WM_USER, 4, 0), 0);
  EXPECT_EQ(r.Got.size(), 2u);

  EXPECT_EQ(SetWindowLongW(wnd, GWL_USERDATA, 77), 0);
  EXPECT_EQ(GetWindowLongW(wnd, GWL_USERDATA), 77);
  EXPECT_TRUE(DestroyWindow(wnd));
  EXPECT_EQ(GetWindowLongW(wnd, GWL_WNDPROC), 0);
  EXPECT_EQ(SendMessageW(wnd, WM_USER, 4, 0), 0);
}

TEST(Messages, SendFromAnotherThreadRunsOnTheMainThread) {
  TReceiver r;
  HWND wnd = AllocateHWnd(TWndMethod(&r, &TReceiver::WndProc));
  std::atomic<LRESULT> result{-1};
  std::thread sender([&] { result = SendMessageW(wnd, WM_USER, 50, 0); });
  ASSERT_TRUE(LoopUntil([&] { return result.load() != -1; }));
  sender.join();
  EXPECT_EQ(result, 100);
  EXPECT_FALSE(r.OffMain);
  DeallocateHWnd(wnd);
}

TEST(Messages, PostingStopsAtTheQueueQuotaUntilTheLoopCatchesUp) {
  TReceiver r;
  HWND wnd = AllocateHWnd(TWndMethod(&r, &TReceiver::WndProc));
  int accepted = 0;
  while (accepted < 20000 && PostMessageW(wnd, WM_USER, accepted, 0)) ++accepted;
  EXPECT_EQ(accepted, 10000);
  Application->ProcessMessages();
  EXPECT_EQ(r.Got.size(), 10000u);
  EXPECT_TRUE(PostMessageW(wnd, WM_USER, 0, 0));
  Application->ProcessMessages();
  DeallocateHWnd(wnd);
}
