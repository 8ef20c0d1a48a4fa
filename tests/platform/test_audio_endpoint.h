// Shared by the endpoint tests: opening the default render endpoint the way the volume component
// does, and a callback that records what it is told.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <qx/platform/audio/mmdevapi.h>

struct TNotified {
  float Level;
  bool Mute;
  UINT Channels;
  bool EmptyContext;
  std::thread::id Thread;
};

class TRecordingCallback : public TInterfacedObjectOf<IAudioEndpointVolumeCallback> {
 public:
  HRESULT OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA p) override {
    std::lock_guard lock(FLock);
    FSeen.push_back({p->fMasterVolume, p->bMuted != 0, p->nChannels, p->guidEventContext == GUID{},
                     std::this_thread::get_id()});
    FChanged.notify_all();
    return S_OK;
  }
  std::vector<TNotified> Seen() const {
    std::lock_guard lock(FLock);
    return FSeen;
  }
  // Waits until a notification satisfying pred has come (generous deadline).
  template <class Pred>
  bool WaitFor(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, timeout, [&] {
      for (const TNotified& n : FSeen)
        if (pred(n)) return true;
      return false;
    });
  }
  void Forget() {
    std::lock_guard lock(FLock);
    FSeen.clear();
  }

 private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TNotified> FSeen;
};

// Enumerator, default render endpoint for the console, endpoint volume; hr is the first failure.
inline TComPtr<IAudioEndpointVolume> OpenDefaultEndpoint(HRESULT& hr) {
  TComPtr<IMMDeviceEnumerator> enumerator;
  hr = CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                        IID_IMMDeviceEnumerator, enumerator.PutVoid());
  if (FAILED(hr)) return {};
  TComPtr<IMMDevice> device;
  hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.Put());
  if (FAILED(hr)) return {};
  TComPtr<IAudioEndpointVolume> volume;
  hr = device->Activate(IID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr, volume.PutVoid());
  return volume;
}

inline float LevelOf(IAudioEndpointVolume* v) {
  float level = -1.0f;
  v->GetMasterVolumeLevelScalar(&level);
  return level;
}

// Opens the default endpoint and registers a fresh recording callback on it.
inline HRESULT OpenAndRegister(TComPtr<IAudioEndpointVolume>& volume,
                               TComPtr<TRecordingCallback>& callback) {
  HRESULT hr;
  volume = OpenDefaultEndpoint(hr);
  if (FAILED(hr)) return hr;
  callback = TComPtr<TRecordingCallback>(new TRecordingCallback);
  return volume->RegisterControlChangeNotify(callback.Get());
}
