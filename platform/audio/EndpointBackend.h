// What stands behind the endpoint interfaces: a sound server's default sink or a virtual endpoint
// a test installs. The interface objects (EndpointObjects.h) check arguments and forward here; a
// backend answers for whatever device is the default at the moment of the call, or for the one
// device it was opened for by name.
#pragma once

#include <algorithm>
#include <cmath>

#include <qx/platform/audio/EndpointCallbacks.h>

class TEndpointBackend {
 public:
  // One step of VolumeStepUp/VolumeStepDown, as a share of full scale, and the step count that
  // GetVolumeStepInfo reports (0 %, 2 %, ... 100 %).
  static constexpr float StepSize = 0.02f;
  static constexpr UINT StepCount = 51;

  TEndpointBackend() = default;
  TEndpointBackend(const TEndpointBackend&) = delete;
  TEndpointBackend& operator=(const TEndpointBackend&) = delete;
  virtual ~TEndpointBackend() = default;

  // S_OK when the device this backend stands for is there (the default output, or the device it
  // was opened for by name), a failure HRESULT otherwise.
  virtual HRESULT DefaultDevice() = 0;
  virtual HRESULT GetLevel(float& level) = 0;
  virtual HRESULT SetLevel(float level) = 0;  // level is already within 0..1
  // direction +1 or -1: one step from the current level, clamped at 0 and 1.
  virtual HRESULT StepLevel(int direction) = 0;
  virtual HRESULT GetMute(bool& mute) = 0;
  virtual HRESULT SetMute(bool mute) = 0;
  virtual HRESULT GetChannelCount(UINT& count) = 0;
  // eCapture for a recording device (a microphone), eRender otherwise.
  virtual EDataFlow DataFlow() const { return eRender; }
  // Registration calls; a backend may refuse them (a server that is gone).
  virtual HRESULT Register(IAudioEndpointVolumeCallback* callback) {
    return FCallbacks.Register(callback);
  }
  virtual HRESULT Unregister(IAudioEndpointVolumeCallback* callback) {
    return FCallbacks.Unregister(callback);
  }
  size_t RegisteredCallbacks() const { return FCallbacks.Count(); }

  static float ClampLevel(float level) {
    if (std::isnan(level)) return 0.0f;
    return std::clamp(level, 0.0f, 1.0f);
  }
  static float SteppedLevel(float level, int direction) {
    return ClampLevel(level + static_cast<float>(direction) * StepSize);
  }

 protected:
  TEndpointCallbacks FCallbacks;
};
