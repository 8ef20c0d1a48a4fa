// Worker threads with the framework's life cycle (suspended start, Synchronize, OnTerminate on the
// main thread, free on terminate), process-wide locks and the kernel stand-ins the components use.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include <qx/framework/core/Classes.h>

class TThread : public TObject {
 public:
  // A thread created running starts at the next turn of the main loop (or at an earlier Start),
  // once the derived object is complete; so it must be created on the main thread. Elsewhere,
  // create it suspended and call Start.
  explicit TThread(bool CreateSuspended);
  // A thread that is still running is terminated and awaited when freed (on the main thread
  // while serving queued calls, so its Synchronize cannot deadlock), while the derived object
  // still exists, so that OnTerminate runs within the wait. Freed from its own thread, it is
  // detached instead.
  void BeforeDestruction() override;

  void Start();
  void Terminate();
  bool Terminated() const;
  bool Finished() const;
  bool Started() const;
  // Blocks the caller until Execute has returned and, on the main thread, OnTerminate ran
  // (serving queued calls meanwhile). Not for FreeOnTerminate threads, nor from the thread itself.
  void WaitFor();

  // Read on the main thread once OnTerminate has run: the thread object is then freed there.
  bool FreeOnTerminate = false;
  TNotifyEvent OnTerminate;
  // The exception that ended Execute, if one did. Without an OnTerminate handler (where the owner
  // may look at it) it also goes to Application->HandleException on the main thread.
  std::exception_ptr FatalException() const;

  // Runs `method` on the main thread and waits for it; at once when called on the main thread.
  // An exception it raises is re-raised in the calling thread.
  void Synchronize(const TThreadMethod& method);
  static void Synchronize(TThread* thread, const TThreadMethod& method);

  // The operating-system thread, once started.
  std::thread::native_handle_type Handle() const { return FHandle; }
  std::thread::id ThreadID() const { return FThreadID; }

 protected:
  // Threads go through Free or TOwned, never a bare delete (see TObject).
  ~TThread() override;
  virtual void Execute() = 0;
  // Raises OnTerminate (main thread).
  virtual void DoTerminate();

 private:
  struct TState;
  static void ThreadProc(std::shared_ptr<TState> state, TThread* self);
  static void TerminateOnMain(const std::shared_ptr<TState>& state);
  void StopAndRelease();
  std::shared_ptr<TState> FState;
  std::thread FThread;
  std::thread::native_handle_type FHandle{};
  std::thread::id FThreadID;
  friend bool TerminateThread(TThread* thread, uint32_t exitCode);
};

// Abandons a thread for good, the stand-in for TerminateThread: the thread object is never
// touched again by the framework (no OnTerminate, no free, no join; it is leaked). The
// operating-system thread goes on until its code returns, with Terminated set; a Synchronize it
// has queued or calls later never runs and never returns. The caller must make sure that code can
// no longer reach anything it was given. Returns false for a thread that is not running.
bool TerminateThread(TThread* thread, uint32_t exitCode);

// Recursive, like the platform's critical sections.
class TCriticalSection : public TObject {
 public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  bool TryEnter() { return FMutex.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }

 private:
  std::recursive_mutex FMutex;
};

// A named counting semaphore, one object for every caller on the machine (POSIX named
// semaphores; a Windows-style name, "Global\" or "Local\" prefix included, is mapped to a valid
// POSIX name). The maximum count is kept by this process's handles.
class TNamedSemaphore {
 public:
  // Opens the semaphore of that name, creating it with `initial` when it does not exist yet.
  TNamedSemaphore(const String& name, int32_t initial, int32_t maximum);
  ~TNamedSemaphore();
  TNamedSemaphore(const TNamedSemaphore&) = delete;
  TNamedSemaphore& operator=(const TNamedSemaphore&) = delete;
  bool Valid() const { return FSem != nullptr; }
  // True when a count was taken within `ms` (negative: wait forever; 0: only try).
  bool Wait(int32_t ms);
  // Adds one, up to the maximum; false when already at the maximum (or invalid).
  bool Release();
  // Removes the name from the system (existing handles stay valid).
  static void Unlink(const String& name);
  // The POSIX name a Windows-style name maps to.
  static String PosixName(const String& name);

 private:
  void* FSem = nullptr;
  void* FHandles = nullptr;  // the machine-wide count of open handles
  String FPosixName;
  int32_t FMaximum;
};
