// The tie between the UDP component and its worker threads.
#pragma once

#include <atomic>
#include <mutex>

class TQxUDPS;

// What a worker thread holds instead of the component itself. The component cuts its workers
// off by clearing Owner (under Lock) when it stops waiting for them or dies; a worker touches the
// component only while holding Lock and seeing Owner set, so it can never reach a dead component.
struct TQxUDPSLink {
  std::mutex Lock;
  TQxUDPS* Owner = nullptr;
  // One reply of a one-shot send at a time passes through the component's reply slots.
  std::mutex ReplyLock;
  // One-shot sends started and not yet finished.
  std::atomic<int> Running{0};
};
