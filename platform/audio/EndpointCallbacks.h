// The callbacks registered on an endpoint, and their delivery on the endpoint's notification
// thread. Each registration holds a reference to its callback until it is unregistered or the list
// is cleared; once Unregister or Clear returns, the callback is not called again.
#pragma once

#include <span>

#include <qx/platform/audio/ComRegistrations.h>

class TEndpointCallbacks : public TComRegistrations<IAudioEndpointVolumeCallback> {
 public:
  // Calls OnNotify of every registered callback with an empty event context; channels are the
  // per-channel levels (at most 32 are passed). Returns the number of calls made.
  size_t Deliver(float level, bool mute, std::span<const float> channels);
};
