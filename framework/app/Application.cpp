#include <qx/framework/app/Application.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <qx/framework/app/CallQueue.h>

namespace {

using Clock = std::chrono::steady_clock;

// The main thread is the one whose id is the process id: true from the first instant of the
// process, whatever order the libraries' static objects are built in.
bool ComputeIsMainThread() {
  return gettid() == getpid();
}

void RequireMainThread(const char* what) {
  if (!TApplication::IsMainThread())
    throw Exception(String(what) + " must be called on the main thread");
}

struct TWatch {
  int Fd;
  std::shared_ptr<std::function<void()>> Fn;
  bool AnyWait;
};

}  // namespace

struct TApplication::Impl {
  Impl() {
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (WakeFd < 0) throw Exception("eventfd failed");
  }
  ~Impl() { close(WakeFd); }

  int WakeFd;
  std::atomic<bool> Terminated{false};
  // Nested waits under way (main thread only).
  int Nested = 0;
  TCallQueue Calls;
  // True while the main thread is (about to be) blocked in ppoll: only then does a queued call
  // need the eventfd to wake it.
  std::atomic<bool> Sleeping{false};
  // When a queued call last ran, and when the descriptors were last polled (main thread only).
  Clock::time_point LastCall{};
  Clock::time_point LastPoll{};

  std::mutex TimerMutex;
  int64_t NextTimerId = 1;
  std::map<int64_t, std::pair<Clock::time_point, std::function<void()>>> Timers;
  std::set<std::pair<Clock::time_point, int64_t>> TimerOrder;

  std::mutex WatchMutex;
  int NextWatchId = 1;
  std::map<int, TWatch> Watches;

  // Calls for when the loop is idle (main thread only), and the batch being run.
  std::vector<std::function<void()>> Idle, IdleRunning;

  int RunIdle(TApplication* app) {
    IdleRunning.swap(Idle);
    const int ran = static_cast<int>(IdleRunning.size());
    for (auto& fn : IdleRunning) {
      try {
        fn();
      } catch (...) {
        app->HandleException(app);
      }
    }
    IdleRunning.clear();
    return ran;
  }

  // Reused between waits so that a turn of the loop allocates nothing.
  std::vector<pollfd> PollSet;
  std::vector<int> PollIds;

  void Signal() {
    uint64_t one = 1;
    // EAGAIN only when the counter is about to overflow, and then the loop is awake anyway.
    ssize_t r = write(WakeFd, &one, sizeof one);
    (void)r;
  }

  // After a call was queued: wake the loop only when it sleeps (seq_cst pairs with Wait's
  // store of Sleeping and its look at the queue).
  void SignalIfSleeping() {
    if (Sleeping.load()) Signal();
  }

  void Drain() {
    uint64_t value;
    ssize_t r = read(WakeFd, &value, sizeof value);
    (void)r;
  }

  // The time until the nearest timer, clipped to `limit` (max(): none).
  Clock::duration UntilNextTimer(Clock::duration limit) {
    std::lock_guard lock(TimerMutex);
    if (TimerOrder.empty()) return limit;
    auto left = TimerOrder.begin()->first - Clock::now();
    if (left < Clock::duration::zero()) left = Clock::duration::zero();
    return std::min(left, limit);
  }

  // While calls flow (one ran within kFlowing), the loop spins a little (TSpin) for the next one
  // before it sleeps, and with calls waiting it polls the descriptors at most every kPollEvery:
  // a steady stream of calls then costs the main thread no system call at all.
  static constexpr auto kFlowing = std::chrono::microseconds(500);
  TSpin Spin{std::chrono::microseconds(50)};
  static constexpr auto kPollEvery = std::chrono::milliseconds(1);

  // Waits on the wake-up descriptor (and the watches when `withWatches`) for at most `wait`
  // (max(): no limit). Leaves the ready watch ids in PollIds. Inside a nested wait, what only the
  // outermost loop runs neither counts nor is polled.
  void Wait(Clock::duration wait, bool withWatches) {
    PollIds.clear();
    const bool nested = Nested > 0;
    auto now = Clock::now();
    if (Calls.Empty(nested) && wait > Clock::duration::zero() && now - LastCall < kFlowing)
      Spin.Until([this, nested] { return !Calls.Empty(nested); });
    if (!Calls.Empty(nested)) {
      if (now - LastPoll < kPollEvery) return;
      wait = Clock::duration::zero();
    }
    PollSet.clear();
    PollIds.clear();
    PollSet.push_back({WakeFd, POLLIN, 0});
    PollIds.push_back(0);
    if (withWatches) {
      std::lock_guard lock(WatchMutex);
      for (auto& [id, w] : Watches) {
        if (nested && !w.AnyWait) continue;
        PollSet.push_back({w.Fd, POLLIN, 0});
        PollIds.push_back(id);
      }
    }
    if (wait != Clock::duration::zero()) {
      Sleeping.store(true);
      if (!Calls.Empty(nested)) wait = Clock::duration::zero();
    }
    timespec ts{};
    timespec* tsp = nullptr;
    if (wait != Clock::duration::max()) {
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      tsp = &ts;
    }
    int n = ppoll(PollSet.data(), PollSet.size(), tsp, nullptr);
    Sleeping.store(false, std::memory_order_relaxed);
    LastPoll = Clock::now();
    if (n < 0) {
      // EINTR: a signal; the caller goes round again.
      PollIds.clear();
      return;
    }
    if (PollSet[0].revents != 0) Drain();
    size_t out = 0;
    for (size_t i = 1; i < PollSet.size(); ++i)
      if (PollSet[i].revents != 0) PollIds[out++] = PollIds[i];
    PollIds.resize(out);
  }

  // Runs the timers that are due now, in deadline then start order. A timer started by one of
  // them waits for the next turn, so a zero-delay timer that re-arms itself cannot starve the
  // loop.
  int RunDueTimers(TApplication* app) {
    int ran = 0;
    auto now = Clock::now();
    int64_t lastId;
    {
      std::lock_guard lock(TimerMutex);
      lastId = NextTimerId - 1;
    }
    for (;;) {
      std::function<void()> fn;
      {
        std::lock_guard lock(TimerMutex);
        auto it = TimerOrder.begin();
        while (it != TimerOrder.end() && it->first <= now && it->second > lastId) ++it;
        if (it == TimerOrder.end() || it->first > now) break;
        auto t = Timers.find(it->second);
        fn = std::move(t->second.second);
        Timers.erase(t);
        TimerOrder.erase(it);
      }
      ++ran;
      try {
        fn();
      } catch (...) {
        app->HandleException(app);
      }
    }
    return ran;
  }

  int RunWatches(TApplication* app) {
    int ran = 0;
    std::vector<int> ready;
    ready.swap(PollIds);
    for (int id : ready) {
      std::shared_ptr<std::function<void()>> fn;
      {
        std::lock_guard lock(WatchMutex);
        auto it = Watches.find(id);
        if (it == Watches.end()) continue;  // removed by an earlier callback
        fn = it->second.Fn;
      }
      ++ran;
      try {
        (*fn)();
      } catch (...) {
        app->HandleException(app);
      }
    }
    ready.clear();
    PollIds.swap(ready);
    return ran;
  }

  int RunQueued(TApplication* app) {
    const int ran = Calls.RunPending([app] { app->HandleException(app); }, Nested > 0);
    if (ran > 0) LastCall = Clock::now();
    return ran;
  }

  int Dispatch(TApplication* app) {
    int ran = RunQueued(app);
    if (Nested == 0) ran += RunDueTimers(app);
    ran += RunWatches(app);
    return ran;
  }

  // Idle work waits for the outermost loop as well.
  bool IdleDue() const { return Nested == 0 && !Idle.empty(); }
  Clock::duration UntilNextTimerHere(Clock::duration limit) {
    return Nested > 0 ? limit : UntilNextTimer(limit);
  }
};

TApplication* Application = new TApplication(nullptr);

QX_DEFINE_CLASS(TApplication, TComponent, [](TPropsBuilder<TApplication>&) {})

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FImpl(new Impl) {}

TApplication::~TApplication() = default;

bool TApplication::IsMainThread() {
  thread_local const bool isMain = ComputeIsMainThread();
  return isMain;
}

void TApplication::Run() {
  RequireMainThread("Application.Run");
  while (!FImpl->Terminated.load()) HandleMessage(std::chrono::milliseconds(-1));
  FImpl->Terminated = false;
}

void TApplication::Terminate() {
  FImpl->Terminated = true;
  WakeUp();
}

bool TApplication::Terminated() const {
  return FImpl->Terminated.load();
}

void TApplication::ProcessMessages() {
  RequireMainThread("Application.ProcessMessages");
  FImpl->Wait(Clock::duration::zero(), true);
  if (FImpl->Dispatch(this) == 0 && FImpl->IdleDue()) FImpl->RunIdle(this);
}

bool TApplication::HandleMessage(std::chrono::milliseconds timeout) {
  RequireMainThread("Application.HandleMessage");
  const bool forever = timeout.count() < 0;
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  for (;;) {
    auto limit = forever ? Clock::duration::max()
                         : std::max(deadline - Clock::now(), Clock::duration::zero());
    const bool idleWork = FImpl->IdleDue();
    FImpl->Wait(idleWork ? Clock::duration::zero() : FImpl->UntilNextTimerHere(limit), true);
    if (FImpl->Dispatch(this) > 0) return true;
    if (idleWork) return FImpl->RunIdle(this) > 0;
    if (Terminated()) return false;
    if (!forever && Clock::now() >= deadline) return false;
  }
}

TApplication::TNestedWait::TNestedWait() {
  RequireMainThread("a nested wait");
  ++Application->FImpl->Nested;
}

TApplication::TNestedWait::~TNestedWait() {
  --Application->FImpl->Nested;
}

bool TApplication::InNestedWait() const {
  return FImpl->Nested > 0;
}

bool TApplication::ServeQueuedCalls(std::chrono::milliseconds wait) {
  RequireMainThread("serving queued calls");
  TNestedWait nested;
  FImpl->Wait(wait.count() < 0 ? Clock::duration::max() : Clock::duration(wait), false);
  return FImpl->RunQueued(this) > 0;
}

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr error = std::current_exception();
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    if (OnException.Assigned()) {
      OnException(Sender, e);
    } else {
      std::fprintf(stderr, "Exception: %s\n", e.what());
    }
  } catch (...) {
    std::runtime_error unknown("unknown exception");
    if (OnException.Assigned()) {
      OnException(Sender, unknown);
    } else {
      std::fprintf(stderr, "Exception: %s\n", unknown.what());
    }
  }
}

void TApplication::Queue(std::function<void()> fn, TRunsIn where) {
  FImpl->Calls.Push(std::move(fn), where == TRunsIn::AnyWait);
  FImpl->SignalIfSleeping();
}

void TApplication::QueueIdle(std::function<void()> fn) {
  RequireMainThread("Application.QueueIdle");
  FImpl->Idle.push_back(std::move(fn));
}

void TApplication::RunOnMainThread(const TThreadMethod& method,
                                   const std::atomic<bool>* abandoned) {
  if (IsMainThread()) {
    method();
    return;
  }
  TSyncCall call(method, abandoned);
  FImpl->Calls.Push(&call);
  const bool mainAwake = !FImpl->Sleeping.load();
  if (!mainAwake) FImpl->Signal();
  call.WaitDone(mainAwake);
}

int TApplication::AddWatch(int fd, std::function<void()> onReadable, TRunsIn where) {
  int id;
  {
    std::lock_guard lock(FImpl->WatchMutex);
    id = FImpl->NextWatchId++;
    FImpl->Watches[id] = TWatch{fd, std::make_shared<std::function<void()>>(std::move(onReadable)),
                                where == TRunsIn::AnyWait};
  }
  if (!IsMainThread()) WakeUp();
  return id;
}

void TApplication::RemoveWatch(int id) {
  std::lock_guard lock(FImpl->WatchMutex);
  FImpl->Watches.erase(id);
}

int64_t TApplication::StartTimer(std::chrono::milliseconds delay, std::function<void()> fn) {
  if (delay.count() < 0) delay = std::chrono::milliseconds(0);
  int64_t id;
  {
    std::lock_guard lock(FImpl->TimerMutex);
    id = FImpl->NextTimerId++;
    auto due = Clock::now() + delay;
    FImpl->Timers.emplace(id, std::make_pair(due, std::move(fn)));
    FImpl->TimerOrder.emplace(due, id);
  }
  // The main thread recomputes its wait at the next turn; another thread must wake it.
  if (!IsMainThread()) WakeUp();
  return id;
}

void TApplication::CancelTimer(int64_t id) {
  std::lock_guard lock(FImpl->TimerMutex);
  auto it = FImpl->Timers.find(id);
  if (it == FImpl->Timers.end()) return;
  FImpl->TimerOrder.erase({it->second.first, id});
  FImpl->Timers.erase(it);
}

void TApplication::WakeUp() {
  FImpl->Signal();
}
