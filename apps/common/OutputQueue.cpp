#include "OutputQueue.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace OutputQueue {
namespace {

struct TState {
  std::mutex Lock;
  std::condition_variable Wake, Idle;
  String Queued;         // whole lines waiting to be written
  bool Writing = false;  // the writer holds a batch taken from Queued
  bool Closed = false;   // standard output went away: nothing is queued any more
  size_t Dropped = 0;    // lines lost since the writer last caught up
  size_t TotalDropped = 0;
  const char* Program = "qx";
};

// Deliberately never destroyed: the writer may still be blocked in write() when the process
// ends, and must not find its state gone.
TState& State() {
  static TState* s = new TState;
  return *s;
}

// Writes all of `text` to standard output; false when the reader has gone away.
bool WriteAll(const String& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void Writer() {
  TState& s = State();
  std::unique_lock<std::mutex> g(s.Lock);
  for (;;) {
    s.Wake.wait(g, [&] { return !s.Queued.empty(); });
    String batch;
    batch.swap(s.Queued);
    s.Writing = true;
    g.unlock();
    const bool ok = WriteAll(batch);
    g.lock();
    s.Writing = false;
    // What is said on standard error is said outside the lock: that stream may stall too.
    if (!ok) {
      const int err = errno;
      s.Closed = true;
      s.Queued.clear();
      s.Idle.notify_all();
      const char* program = s.Program;
      g.unlock();
      std::fprintf(stderr, "%s: standard output is closed (%s): events are no longer printed\n",
                   program, std::strerror(err));
      return;
    }
    if (s.Queued.empty() && s.Dropped > 0) {
      const size_t dropped = s.Dropped;
      s.Dropped = 0;
      const char* program = s.Program;
      g.unlock();
      std::fprintf(stderr, "%s: %zu events were not printed: standard output was not read\n",
                   program, dropped);
      g.lock();
    }
    if (s.Queued.empty()) s.Idle.notify_all();
  }
}

void AtExit() {
  // Long enough for a reader that keeps up; a stalled one must not hold the exit up.
  Drain(std::chrono::milliseconds(500));
}

void StartOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A closed pipe is an error from write(), not a signal that ends the program.
    signal(SIGPIPE, SIG_IGN);
    std::thread(Writer).detach();
    std::atexit(AtExit);
  });
}

}  // namespace

void Push(const String& line) {
  StartOnce();
  TState& s = State();
  {
    std::lock_guard<std::mutex> g(s.Lock);
    if (s.Closed) return;
    if (s.Queued.size() + line.size() + 1 > kLimit) {
      ++s.Dropped;
      ++s.TotalDropped;
      return;
    }
    s.Queued += line;
    s.Queued += '\n';
  }
  // Woken after the lock is let go, so that the writer does not wake only to wait for it while
  // the caller (the daemon's main thread, about to set the volume) still holds it.
  s.Wake.notify_one();
}

void Drain(std::chrono::milliseconds limit) {
  TState& s = State();
  std::unique_lock<std::mutex> g(s.Lock);
  s.Idle.wait_for(g, limit, [&] { return s.Closed || (s.Queued.empty() && !s.Writing); });
}

size_t Dropped() {
  TState& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  return s.TotalDropped;
}

void SetProgram(const char* name) {
  TState& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  s.Program = name;
}

}  // namespace OutputQueue
