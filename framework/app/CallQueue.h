// The main thread's queue of calls from other threads (internal to the application loop): plain
// calls (posted messages, OnTerminate, Queue) and Synchronize calls whose callers wait for them.
// One FIFO for both, so every caller's calls run in the order they were made.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <qx/framework/core/Events.h>

// A short busy wait for another thread that is about to answer: cheaper than sleeping and being
// woken while calls flow. Adaptive, because on a busy machine a spin that keeps failing only
// takes the processor from the thread it waits for: each failure halves the next spin (down to
// none, with a short probe now and then), each success doubles it up to the maximum. Never on a
// single processor.
class TSpin {
 public:
  explicit TSpin(std::chrono::nanoseconds max) : FMax(max.count()), FLimit(max.count()) {}

  // Spins until done() or the current limit has passed; returns done().
  template <class Done>
  bool Until(Done done) {
    static const bool many = std::thread::hardware_concurrency() > 1;
    if (!many) return done();
    int64_t limit = FLimit.load(std::memory_order_relaxed);
    if (limit == 0) {
      if (++FIdle % 64 != 0) return done();
      limit = kProbe;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::nanoseconds(limit);
    for (;;) {
      for (int i = 0; i < 16; ++i) {
        if (done()) {
          FLimit.store(std::min(FMax, limit * 2), std::memory_order_relaxed);
          return true;
        }
        Pause();
      }
      if (std::chrono::steady_clock::now() >= end) break;
    }
    FLimit.store(limit / 2 < kProbe ? 0 : limit / 2, std::memory_order_relaxed);
    return done();
  }

 private:
  static constexpr int64_t kProbe = 2000;  // ns
  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  const int64_t FMax;
  std::atomic<int64_t> FLimit;
  std::atomic<uint32_t> FIdle{0};
};

// Bare futex operations on a process-private word.
inline void FutexWait(int* word, int value) {
  syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}
inline void FutexWake(int* word) {
  syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

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
    // After this exchange the caller may return and free the call: nothing of it is touched
    // again. The wake goes through an address taken before, and the kernel does not read a
    // private futex's memory to wake it. A caller still spinning needs no wake at all.
    int* const word = FutexWord();
    if (FDone.exchange(kDone, std::memory_order_acq_rel) == kSleeping) FutexWake(word);
  }

  // Caller: waits for Run, then re-raises what the method raised. Spins briefly first (a
  // handler usually answers within microseconds), then sleeps on a bare futex rather than
  // std::atomic::wait, whose spin ends in sched_yield: on a busy machine that hands the CPU to
  // another process and costs the round trip a whole time slice.
  // A main thread that sleeps takes longer to wake than a spin lasts: then the caller sleeps too.
  void WaitDone(bool mainAwake) {
    static TSpin spin(std::chrono::microseconds(30));
    auto done = [this] { return FDone.load(std::memory_order_acquire) == kDone; };
    if (!(mainAwake && spin.Until(done))) {
      for (;;) {
        int state = kPending;
        FDone.compare_exchange_strong(state, kSleeping, std::memory_order_acq_rel);
        if (state == kDone) break;
        FutexWait(FutexWord(), kSleeping);
      }
    }
    if (FError) std::rethrow_exception(FError);
  }

 private:
  int* FutexWord() {
    static_assert(sizeof(FDone) == sizeof(int));
    return reinterpret_cast<int*>(&FDone);
  }

  static constexpr int kPending = 0, kDone = 1, kSleeping = 2;

  const TThreadMethod& FMethod;
  const std::atomic<bool>* FAbandoned;
  std::exception_ptr FError;
  std::atomic<int> FDone{kPending};
};

class TCallQueue {
 public:
  void Push(std::function<void()> fn) { PushEntry(Entry{std::move(fn), nullptr}); }
  void Push(TSyncCall* call) { PushEntry(Entry{{}, call}); }

  // Lock-free, so that the main loop may spin on it.
  bool Empty() const { return FQueued.load() == 0; }

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
        FQueued.store(--FCount);
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
    FQueued.store(++FCount);
  }

  mutable std::mutex FMutex;
  std::vector<Entry> FRing;
  size_t FHead = 0;
  size_t FCount = 0;
  std::atomic<size_t> FQueued{0};  // FCount, for Empty
};
