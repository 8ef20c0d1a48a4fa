#include <condition_variable>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/threads/Threads.h>

// What the thread object and its operating-system thread share. The OS thread holds its own
// reference, so the state outlives a thread object that is freed (or abandoned) while the code
// is still on its way out.
struct TThread::TState {
  std::mutex Mutex;
  std::condition_variable Changed;
  // The live thread object; cleared when it is destroyed, so late calls find nothing.
  std::atomic<TThread*> Owner{nullptr};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> StartPending{false};
  std::atomic<bool> Started{false};
  std::atomic<bool> Finished{false};       // Execute has returned
  std::atomic<bool> Terminating{false};    // OnTerminate is running on the main thread
  std::atomic<bool> TerminateDone{false};  // OnTerminate has run on the main thread
  std::atomic<bool> Destroying{false};
  std::atomic<bool> Abandoned{false};
  std::exception_ptr Fatal;  // written before Finished, read after it
};

namespace {
// The abandoned flag of the TThread running on this OS thread, if any.
thread_local const std::atomic<bool>* tAbandoned = nullptr;

// Abandoned thread objects stay listed here for the life of the process: leaking them is the
// point (their code may still run), and the list says so to leak checkers.
void KeepAbandoned(TThread* thread) {
  static std::mutex mutex;
  static auto* kept = new std::vector<TThread*>;
  std::lock_guard lock(mutex);
  kept->push_back(thread);
}

[[noreturn]] void ParkForever() {
  std::atomic<int> never{0};
  for (;;) never.wait(0);
}
}  // namespace

TThread::TThread(bool CreateSuspended) : FState(std::make_shared<TState>()) {
  FState->Owner = this;
  if (CreateSuspended) return;
  if (!TApplication::IsMainThread())
    throw Exception("a thread created running must be created on the main thread");
  // The constructor of the derived class has not run yet; the main loop's next turn comes after
  // it.
  FState->StartPending = true;
  Application->Queue(
      [state = FState] {
        TThread* t = state->Owner.load();
        if (t != nullptr && !state->Destroying && !state->Started) t->Start();
      },
      TRunsIn::AnyWait);
}

TThread::~TThread() {
  // The derived object is gone: a late OnTerminate must find nothing.
  FState->Owner = nullptr;
}

void TThread::BeforeDestruction() {
  TObject::BeforeDestruction();
  StopAndRelease();
}

// Ends the OS thread's hold on this object before it goes: terminate it, wait for Execute to
// return and join it. On the main thread the wait serves queued calls, so a Synchronize the
// thread is blocked in cannot deadlock, and (while the whole object still exists) its
// OnTerminate runs within the wait.
void TThread::StopAndRelease() {
  TState& s = *FState;
  s.Destroying = true;
  if (s.Abandoned) return;  // leaked on purpose; the OS thread may still use it
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) {
    FThread.detach();
    return;
  }
  s.Terminated = true;
  if (TApplication::IsMainThread()) {
    for (;;) {
      // Freed by its own OnTerminate: Execute has returned already.
      if (s.TerminateDone || s.Terminating || s.Abandoned) break;
      Application->ServeQueuedCalls(std::chrono::milliseconds(-1));
    }
    if (s.Abandoned) return;
  } else {
    std::unique_lock lock(s.Mutex);
    s.Changed.wait(lock, [&] { return s.Finished || s.Abandoned; });
    if (s.Abandoned) return;
  }
  FThread.join();
}

void TThread::Start() {
  TState& s = *FState;
  if (s.Destroying) throw Exception("cannot start a thread that is being destroyed");
  if (s.Started.exchange(true)) throw Exception("thread already started");
  s.StartPending = false;
  FThread = std::thread(&TThread::ThreadProc, FState, this);
  FHandle = FThread.native_handle();
  FThreadID = FThread.get_id();
}

void TThread::ThreadProc(std::shared_ptr<TState> state, TThread* self) {
  tAbandoned = &state->Abandoned;
  try {
    self->Execute();
  } catch (...) {
    state->Fatal = std::current_exception();
  }
  // `self` is not touched from here on: the main thread may free it at any moment now.
  {
    std::lock_guard lock(state->Mutex);
    state->Finished = true;
  }
  state->Changed.notify_all();
  if (state->Abandoned) return;
  // A wait for this thread (its stop, its free) needs its end: any wait runs it.
  Application->Queue([state] { TerminateOnMain(state); }, TRunsIn::AnyWait);
}

void TThread::TerminateOnMain(const std::shared_ptr<TState>& state) {
  if (state->Abandoned) return;
  TThread* t = state->Owner.load();
  // An owner with an OnTerminate handler looks at FatalException there; otherwise the exception
  // that ended Execute is shown the way an event handler's is.
  const bool ownerHandles = t != nullptr && t->OnTerminate.Assigned();
  if (state->Fatal && !ownerHandles) {
    try {
      std::rethrow_exception(state->Fatal);
    } catch (...) {
      Application->HandleException(t != nullptr ? static_cast<TObject*>(t) : Application);
    }
  }
  if (t == nullptr) return;
  state->Terminating = true;
  try {
    t->DoTerminate();
  } catch (...) {
    Application->HandleException(t);
  }
  state->TerminateDone = true;
  // OnTerminate may have freed the thread itself.
  t = state->Owner.load();
  if (t != nullptr && t->FreeOnTerminate && !state->Destroying) TObject::Free(t);
}

void TThread::DoTerminate() {
  // A copy: the handler may free this thread, and its own callable with it.
  TNotifyEvent handler = OnTerminate;
  handler(this);
}

void TThread::Terminate() {
  FState->Terminated = true;
}
bool TThread::Terminated() const {
  return FState->Terminated;
}
bool TThread::Finished() const {
  return FState->Finished;
}
bool TThread::Started() const {
  return FState->Started;
}

std::exception_ptr TThread::FatalException() const {
  return FState->Finished ? FState->Fatal : nullptr;
}

void TThread::WaitFor() {
  TState& s = *FState;
  if (FreeOnTerminate) throw Exception("cannot wait for a thread that frees itself");
  if (!s.Started && !s.StartPending) throw Exception("cannot wait for a thread never started");
  if (s.Started && FThreadID == std::this_thread::get_id())
    throw Exception("a thread cannot wait for itself");
  if (TApplication::IsMainThread()) {
    // Called from its own OnTerminate, Execute has returned already.
    while (!s.TerminateDone && !s.Terminating && !s.Abandoned)
      Application->ServeQueuedCalls(std::chrono::milliseconds(-1));
    return;
  }
  std::unique_lock lock(s.Mutex);
  s.Changed.wait(lock, [&] { return s.Finished.load() || s.Abandoned.load(); });
}

void TThread::Synchronize(const TThreadMethod& method) {
  Synchronize(this, method);
}

void TThread::Synchronize(TThread*, const TThreadMethod& method) {
  if (TApplication::IsMainThread()) {
    method();
    return;
  }
  // An abandoned thread must never reach the main thread's objects again.
  if (tAbandoned != nullptr && tAbandoned->load()) ParkForever();
  Application->RunOnMainThread(method, tAbandoned);
}

bool TerminateThread(TThread* thread, uint32_t) {
  if (thread == nullptr) return false;
  TThread::TState& s = *thread->FState;
  if (!s.Started || s.Finished || s.Abandoned) return false;
  s.Terminated = true;
  {
    std::lock_guard lock(s.Mutex);
    s.Abandoned = true;
  }
  s.Changed.notify_all();
  Application->WakeUp();  // a main-thread wait for it must see the change
  KeepAbandoned(thread);
  if (thread->FThread.joinable()) thread->FThread.detach();
  return true;
}
