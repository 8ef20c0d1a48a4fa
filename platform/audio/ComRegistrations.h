// Interface pointers registered for calls from another thread (endpoint volume callbacks, device
// notification clients). Each registration holds a reference until it is unregistered or the
// list is cleared; once Unregister or Clear returns, the interface is not called again.
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include <qx/platform/audio/mmdevapi.h>

template <class I>
class TComRegistrations {
 public:
  TComRegistrations() = default;
  TComRegistrations(const TComRegistrations&) = delete;
  TComRegistrations& operator=(const TComRegistrations&) = delete;
  ~TComRegistrations() { Clear(); }

  // E_POINTER for nullptr, E_INVALIDARG when it is already registered.
  HRESULT Register(I* item) {
    if (item == nullptr) return E_POINTER;
    std::lock_guard lock(FLock);
    if (std::find(FItems.begin(), FItems.end(), item) != FItems.end()) return E_INVALIDARG;
    item->AddRef();
    FItems.push_back(item);
    return S_OK;
  }
  // E_POINTER for nullptr, E_INVALIDARG when it is not registered. Waits for a delivery in
  // progress on another thread to end (so a callee must not wait on the unregistering thread).
  HRESULT Unregister(I* item) {
    if (item == nullptr) return E_POINTER;
    {
      std::lock_guard deliver(FDeliverLock);
      std::lock_guard lock(FLock);
      auto it = std::find(FItems.begin(), FItems.end(), item);
      if (it == FItems.end()) return E_INVALIDARG;
      FItems.erase(it);
    }
    item->Release();
    return S_OK;
  }
  void Clear() {
    std::vector<I*> gone;
    {
      std::lock_guard deliver(FDeliverLock);
      std::lock_guard lock(FLock);
      gone.swap(FItems);
    }
    for (I* i : gone) i->Release();
  }
  size_t Count() const {
    std::lock_guard lock(FLock);
    return FItems.size();
  }

  // Calls call(item) for every item still registered at its turn; returns the number of calls.
  template <class F>
  size_t Deliver(F call) {
    std::lock_guard deliver(FDeliverLock);
    std::vector<I*> snapshot;
    {
      std::lock_guard lock(FLock);
      snapshot = FItems;
      for (I* i : snapshot) i->AddRef();
    }
    size_t calls = 0;
    for (I* i : snapshot) {
      bool registered;
      {
        std::lock_guard lock(FLock);
        registered = std::find(FItems.begin(), FItems.end(), i) != FItems.end();
      }
      if (registered) {
        call(i);
        ++calls;
      }
      i->Release();
    }
    return calls;
  }

 private:
  // Held for a whole delivery, and by Unregister/Clear, so that neither returns mid-delivery.
  // Recursive: a callee may unregister itself.
  std::recursive_mutex FDeliverLock;
  mutable std::mutex FLock;
  std::vector<I*> FItems;
};
