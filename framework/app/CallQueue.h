// The main thread's queue of calls from other threads (internal to the application loop): plain
// calls (posted messages, OnTerminate, Queue) and Synchronize calls whose callers wait for them,
// run in the order they were made.
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

// Two FIFOs under one lock: the calls any wait may run (Synchronize, a thread's end, a window
// connection's own work) and the calls only the outermost loop runs (posted messages, the
// application's queued calls). Every call carries its place in one sequence, so the outermost
// loop runs them all in the order they were made, while a nested wait takes only the first kind
// and leaves the rest where they were.
class TCallQueue {
 public:
  void Push(std::function<void()> fn, bool anyWait) {
    std::lock_guard lock(FMutex);
    (anyWait ? FAnyWait : FOuter).Push(Entry{std::move(fn), nullptr, FNextSeq++});
    Count();
  }
  void Push(TSyncCall* call) {
    std::lock_guard lock(FMutex);
    FAnyWait.Push(Entry{{}, call, FNextSeq++});
    Count();
  }

  // Lock-free, so that the main loop may spin on it. `nested`: whether a nested wait would find
  // anything to run.
  bool Empty(bool nested = false) const { return (nested ? FAnyWaitQueued : FQueued).load() == 0; }

  // Runs the calls queued at the moment of the call (inside a nested wait, those any wait may
  // run), one at a time and in order, taking each out of the queue before running it so that a
  // call may re-enter the loop. `onError` runs inside the catch block of a plain call's
  // exception. Returns how many ran.
  template <class OnError>
  int RunPending(OnError onError, bool nested = false) {
    size_t budget;
    {
      std::lock_guard lock(FMutex);
      budget = nested ? FAnyWait.Size() : FAnyWait.Size() + FOuter.Size();
    }
    int ran = 0;
    for (; budget > 0; --budget) {
      Entry e;
      {
        std::lock_guard lock(FMutex);
        TRing* from = &FAnyWait;
        if (!nested && (FAnyWait.Size() == 0 ||
                        (FOuter.Size() > 0 && FOuter.Front().Seq < FAnyWait.Front().Seq)))
          from = &FOuter;
        if (from->Size() == 0) break;
        e = from->Pop();
        Count();
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
    uint64_t Seq = 0;
  };

  // A ring that only grows: the steady state of the loop allocates nothing per call.
  class TRing {
   public:
    size_t Size() const { return FCount; }
    const Entry& Front() const { return FRing[FHead]; }
    void Push(Entry e) {
      if (FCount == FRing.size()) {
        std::vector<Entry> bigger(FRing.empty() ? 16 : FRing.size() * 2);
        for (size_t i = 0; i < FCount; ++i)
          bigger[i] = std::move(FRing[(FHead + i) % FRing.size()]);
        FRing.swap(bigger);
        FHead = 0;
      }
      FRing[(FHead + FCount) % FRing.size()] = std::move(e);
      ++FCount;
    }
    Entry Pop() {
      Entry e = std::move(FRing[FHead]);
      FRing[FHead] = Entry{};
      FHead = (FHead + 1) % FRing.size();
      --FCount;
      return e;
    }

   private:
    std::vector<Entry> FRing;
    size_t FHead = 0;
    size_t FCount = 0;
  };

  // Under FMutex: the counts the lock-free Empty reads.
  void Count() {
    FAnyWaitQueued.store(FAnyWait.Size());
    FQueued.store(FAnyWait.Size() + FOuter.Size());
  }

  mutable std::mutex FMutex;
  TRing FAnyWait, FOuter;
  uint64_t FNextSeq = 0;
  std::atomic<size_t> FQueued{0}, FAnyWaitQueued{0};
};
