#include <qx/platform/audio/EndpointCallbacks.h>

#include <algorithm>

namespace {

constexpr size_t MaxChannels = 32;

// The platform's record ends in a one-element array that is allocated to hold every channel.
struct TNotificationRecord {
  AUDIO_VOLUME_NOTIFICATION_DATA Data;
  float MoreChannels[MaxChannels - 1];
};

}  // namespace

size_t TEndpointCallbacks::Deliver(float level, bool mute, std::span<const float> channels) {
  TNotificationRecord record{};
  record.Data.bMuted = mute ? 1 : 0;
  record.Data.fMasterVolume = level;
  const size_t n = std::min(channels.size(), MaxChannels);
  record.Data.nChannels = static_cast<UINT>(n);
  float* out = record.Data.afChannelVolumes;
  for (size_t i = 0; i < n; ++i) out[i] = channels[i];

  return TComRegistrations::Deliver([&](IAudioEndpointVolumeCallback* c) {
    // Each call gets a fresh copy: a callback may not change what the next one sees.
    TNotificationRecord copy = record;
    c->OnNotify(&copy.Data);
  });
}
