// The callbacks registered on an endpoint, and their delivery on the endpoint's notification
// thread. Each registration holds a reference to its callback until it is unregistered or the list
// is cleared; once Unregister or Clear returns, the callback is not called again.
#pragma once

#include <mutex>
#include <span>
#include <vector>

#include <qx/platform/audio/mmdevapi.h>

class TEndpointCallbacks {
 public:
  TEndpointCallbacks() = default;
  TEndpointCallbacks(const TEndpointCallbacks&) = delete;
  TEndpointCallbacks& operator=(const TEndpointCallbacks&) = delete;
  ~TEndpointCallbacks();

  // E_POINTER for nullptr, E_INVALIDARG when the callback is already registered.
  HRESULT Register(IAudioEndpointVolumeCallback* callback);
  // E_POINTER for nullptr, E_INVALIDARG when it is not registered. Waits for a delivery in
  // progress on another thread to end (so a callback must not wait on the unregistering thread).
  HRESULT Unregister(IAudioEndpointVolumeCallback* callback);
  void Clear();
  size_t Count() const;

  // Calls OnNotify of every registered callback with an empty event context; channels are the
  // per-channel levels (at most 32 are passed). Returns the number of calls made.
  size_t Deliver(float level, bool mute, std::span<const float> channels);

 private:
  // Held for a whole delivery, and by Unregister/Clear, so that neither returns mid-delivery.
  // Recursive: a callback may unregister itself.
  std::recursive_mutex FDeliverLock;
  mutable std::mutex FLock;
  std::vector<IAudioEndpointVolumeCallback*> FCallbacks;
};
