// The main thread's queue of calls from other threads (internal to the application loop): plain
// calls (posted messages, OnTerminate, Queue) and Synchronize calls whose callers wait for them.
// One FIFO for both, so every caller's calls run in the order they were made.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include "framework/core/Events.h"

// A Synchronize call: lives on the waiting thread's stack, so queueing it allocates nothing.
class TSyncCall {
 public:
  TSyncCall(const TThreadMethod& method, const std::atomic<bool>* abandoned)
      : FMethod(method), FAbandoned(abandoned) {}

  // Main thread: runs the method and wakes the caller; a call from an abandoned thread is
  // neither run nor answered.
  void Run() {
    if (FAbandoned != nullptr && FAbandoned->load()) return;
    try {
      FMethod();
    } catch (...) {
      FError = std::current_exception();
    }
    // After this store the caller may return and free the call; only the futex wake follows,
    // and the kernel does not read a private futex's memory to wake it.
    FDone.store(1, std::memory_order_release);
    Futex(FUTEX_WAKE_PRIVATE, 1);
  }

  // Caller: waits for Run, then re-raises what the method raised. A bare futex rather than
  // std::atomic::wait, whose spin ends in sched_yield: on a busy machine that hands the CPU to
  // another process and costs the round trip a whole time slice.
  void WaitDone() {
    while (FDone.load(std::memory_order_acquire) == 0) Futex(FUTEX_WAIT_PRIVATE, 0);
    if (FError) std::rethrow_exception(FError);
  }

 private:
  void Futex(int op, int value) {
    static_assert(sizeof(FDone) == sizeof(int));
    syscall(SYS_futex, reinterpret_cast<int*>(&FDone), op, value, nullptr, nullptr, 0);
  }

  const TThreadMethod& FMethod;
  const std::atomic<bool>* FAbandoned;
  std::exception_ptr FError;
  std::atomic<int> FDone{0};
};

class TCallQueue {
 public:
  void Push(std::function<void()> fn) { PushEntry(Entry{std::move(fn), nullptr}); }
  void Push(TSyncCall* call) { PushEntry(Entry{{}, call}); }

  bool Empty() const {
    std::lock_guard lock(FMutex);
    return FCount == 0;
  }

  // Runs the calls queued at the moment of the call, one at a time and in order, taking each
  // out of the queue before running it so that a call may re-enter the loop. `onError` runs
  // inside the catch block of a plain call's exception. Returns how many ran.
  template <class OnError>
  int RunPending(OnError onError) {
    size_t budget;
    {
      std::lock_guard lock(FMutex);
      budget = FCount;
    }
    int ran = 0;
    for (; budget > 0; --budget) {
      Entry e;
      {
        std::lock_guard lock(FMutex);
        if (FCount == 0) break;
        e = std::move(FRing[FHead]);
        FRing[FHead] = Entry{};
        FHead = (FHead + 1) % FRing.size();
        --FCount;
      }
      ++ran;
      if (e.Sync != nullptr) {
        e.Sync->Run();
      } else {
        try {
          e.Fn();
        } catch (...) {
          onError();
        }
      }
    }
    return ran;
  }

 private:
  struct Entry {
    std::function<void()> Fn;
    TSyncCall* Sync = nullptr;
  };

  // A ring that only grows: the steady state of the loop allocates nothing per call.
  void PushEntry(Entry e) {
    std::lock_guard lock(FMutex);
    if (FCount == FRing.size()) {
      std::vector<Entry> bigger(FRing.empty() ? 16 : FRing.size() * 2);
      for (size_t i = 0; i < FCount; ++i) bigger[i] = std::move(FRing[(FHead + i) % FRing.size()]);
      FRing.swap(bigger);
      FHead = 0;
    }
    FRing[(FHead + FCount) % FRing.size()] = std::move(e);
    ++FCount;
  }

  mutable std::mutex FMutex;
  std::vector<Entry> FRing;
  size_t FHead = 0;
  size_t FCount = 0;
};
