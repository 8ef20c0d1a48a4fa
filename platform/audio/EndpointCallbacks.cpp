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

TEndpointCallbacks::~TEndpointCallbacks() {
  Clear();
}

HRESULT TEndpointCallbacks::Register(IAudioEndpointVolumeCallback* callback) {
  if (callback == nullptr) return E_POINTER;
  std::lock_guard lock(FLock);
  if (std::find(FCallbacks.begin(), FCallbacks.end(), callback) != FCallbacks.end())
    return E_INVALIDARG;
  callback->AddRef();
  FCallbacks.push_back(callback);
  return S_OK;
}

HRESULT TEndpointCallbacks::Unregister(IAudioEndpointVolumeCallback* callback) {
  if (callback == nullptr) return E_POINTER;
  {
    std::lock_guard deliver(FDeliverLock);
    std::lock_guard lock(FLock);
    auto it = std::find(FCallbacks.begin(), FCallbacks.end(), callback);
    if (it == FCallbacks.end()) return E_INVALIDARG;
    FCallbacks.erase(it);
  }
  callback->Release();
  return S_OK;
}

void TEndpointCallbacks::Clear() {
  std::vector<IAudioEndpointVolumeCallback*> gone;
  {
    std::lock_guard deliver(FDeliverLock);
    std::lock_guard lock(FLock);
    gone.swap(FCallbacks);
  }
  for (IAudioEndpointVolumeCallback* c : gone) c->Release();
}

size_t TEndpointCallbacks::Count() const {
  std::lock_guard lock(FLock);
  return FCallbacks.size();
}

size_t TEndpointCallbacks::Deliver(float level, bool mute, std::span<const float> channels) {
  TNotificationRecord record{};
  record.Data.bMuted = mute ? 1 : 0;
  record.Data.fMasterVolume = level;
  const size_t n = std::min(channels.size(), MaxChannels);
  record.Data.nChannels = static_cast<UINT>(n);
  float* out = record.Data.afChannelVolumes;
  for (size_t i = 0; i < n; ++i) out[i] = channels[i];

  std::lock_guard deliver(FDeliverLock);
  std::vector<IAudioEndpointVolumeCallback*> snapshot;
  {
    std::lock_guard lock(FLock);
    snapshot = FCallbacks;
    for (IAudioEndpointVolumeCallback* c : snapshot) c->AddRef();
  }
  size_t calls = 0;
  for (IAudioEndpointVolumeCallback* c : snapshot) {
    bool registered;
    {
      std::lock_guard lock(FLock);
      registered = std::find(FCallbacks.begin(), FCallbacks.end(), c) != FCallbacks.end();
    }
    // Each call gets a fresh copy: a callback may not change what the next one sees.
    TNotificationRecord copy = record;
    if (registered) {
      c->OnNotify(&copy.Data);
      ++calls;
    }
    c->Release();
  }
  return calls;
}
