// The application object and its main-thread loop: one poll set made of a wake-up eventfd that
// other threads signal, watched file descriptors (the window back end's connection), and the
// nearest timer deadline. Synchronize calls, posted messages and due timers all run here.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include <qx/framework/core/Classes.h>

using TExceptionEvent = TMethod<TObject*, const std::exception&>;

// Where a queued call or a watch runs: in the outermost loop only (the default), or also inside
// a nested wait, being part of what such waits are made of.
enum class TRunsIn { OuterLoop, AnyWait };

class TApplication : public TComponent {
  QX_CLASS(TApplication)
  explicit TApplication(TComponent* AOwner);

 protected:
  ~TApplication() override;

 public:
  // Runs the loop until Terminate (main thread only). The request to terminate is consumed when
  // Run returns, so the loop can be run again later.
  void Run();
  // Asks Run to return; safe from any thread.
  void Terminate();
  bool Terminated() const;
  // Runs everything that is due now (queued calls, posted messages, due timers, readable
  // watches) without blocking; inside a nested wait, only what such a wait runs. Main thread
  // only.
  void ProcessMessages();
  // Waits (poll, no busy waiting) until something is due or `timeout` passes (negative: no
  // limit), then runs it. Returns true when something ran. Main thread only; for tests and
  // modal waits.
  bool HandleMessage(std::chrono::milliseconds timeout);
  // Reports the exception being handled (call inside a catch block): through OnException when
  // assigned, else its text on standard error.
  void HandleException(TObject* Sender);
  TExceptionEvent OnException;

  // True on the process's main thread (the one that loads the framework and creates Application).
  static bool IsMainThread();

  // --- Services for the framework's own units ---
  // A wait inside a handler or a destructor (a thread's stop, a modal message) is nested. While
  // one is under way the loop runs only what waits are made of: Synchronize calls, and calls and
  // watches added with TRunsIn::AnyWait (a thread's end, the window connection a modal message
  // reads). Signal and other watches, timers, posted messages, idle work and the application's
  // queued calls keep, in their order, for the outermost loop: no handler they would start runs
  // inside what waits, which may be tearing down what that handler uses. This holds too for a
  // handler that a nested wait serves and that calls ProcessMessages itself. Main thread only.
  class TNestedWait {
   public:
    TNestedWait();
    ~TNestedWait();
    TNestedWait(const TNestedWait&) = delete;
    TNestedWait& operator=(const TNestedWait&) = delete;
  };
  bool InNestedWait() const;

  // Queues fn for the main thread; wakes the loop. Safe from any thread. Calls run in the order
  // they were queued; an exception leaving fn goes to HandleException.
  void Queue(std::function<void()> fn, TRunsIn where = TRunsIn::OuterLoop);
  // Queues fn to run when nothing else is due (no queued call, posted message, due timer or
  // readable watch), the way the host generates paint messages only for an empty queue: a
  // repaint asked for twice before the loop is idle is made once, after what was waiting.
  // Main thread only.
  void QueueIdle(std::function<void()> fn);
  // Runs `method` on the main thread and waits for it; at once on the main thread. Its exception
  // is re-raised here. A call whose `abandoned` flag is set by the time the main thread reaches
  // it is not run, and the caller is never woken again (the forced stop of a thread).
  void RunOnMainThread(const TThreadMethod& method, const std::atomic<bool>* abandoned = nullptr);
  // A nested wait for a thread: runs the queued calls any wait runs (no timers, no watches),
  // waiting up to `wait` (negative: no limit) for the first one. Main thread only.
  bool ServeQueuedCalls(std::chrono::milliseconds wait);
  // Watches a descriptor for readability (or hang-up); onReadable runs on the main thread.
  // Returns an id.
  int AddWatch(int fd, std::function<void()> onReadable, TRunsIn where = TRunsIn::OuterLoop);
  void RemoveWatch(int id);
  // One-shot main-thread timer; returns an id (never 0). Cancelling an unknown id is harmless.
  // Safe from any thread. Timers due at the same moment run in the order they were started.
  int64_t StartTimer(std::chrono::milliseconds delay, std::function<void()> fn);
  void CancelTimer(int64_t id);
  // Wakes the loop from any thread.
  void WakeUp();

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

// The process's application object, created when the framework library loads (on the main
// thread). It is never freed: worker threads may still be blocked on it while the process exits.
extern TApplication* Application;
