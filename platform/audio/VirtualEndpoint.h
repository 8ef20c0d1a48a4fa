// An in-process endpoint for tests, with its own notification thread: scripted level and mute,
// an absent server or device, outside changes, a switch of the default device and refused calls.
// While a TScopedVirtualEndpoint is alive, CoCreateInstance(CLSID_MMDeviceEnumerator) answers
// from it instead of the sound server.
//
// Writes through the endpoint change the state and notify exactly like an outside change (no
// echo suppression). Notifications run on the endpoint's thread, in order, never on the caller's.
// Registered callbacks are AddRef'd until unregistered or until the endpoint is uninstalled.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include <qx/platform/audio/EndpointBackend.h>

class TVirtualEndpoint : public TEndpointBackend {
 public:
  static constexpr UINT Channels = 2;

  TVirtualEndpoint();
  ~TVirtualEndpoint() override;

  // false: CoCreateInstance(CLSID_MMDeviceEnumerator...) fails with AUDCLNT_E_SERVICE_NOT_RUNNING
  // and open endpoints' calls fail with it too.
  void SetServerPresent(bool present);
  // false: GetDefaultAudioEndpoint fails with E_NOTFOUND and open endpoints' calls fail with
  // AUDCLNT_E_DEVICE_INVALIDATED.
  void SetDevicePresent(bool present);
  // An outside change (the level clamped to 0..1); notifies.
  void ChangeLevel(float level);
  void ChangeMute(bool mute);
  // A new default device (present) with this level and mute: open endpoints follow it and notify.
  void SwitchDefaultDevice(float level, bool mute);
  // Every call of the endpoint volume interface but UnregisterControlChangeNotify fails with hr
  // and changes nothing; S_OK ends it.
  void RefuseCalls(HRESULT hr);

  float Level() const;
  bool Muted() const;
  // OnNotify calls made so far (one notification reaching two callbacks counts two).
  size_t NotificationsSent() const;
  bool WaitForNotifications(size_t count, std::chrono::milliseconds timeout) const;
  size_t RegisteredCallbacks() const { return TEndpointBackend::RegisteredCallbacks(); }
  // true: notifications queue up undelivered; false delivers the queue, in order.
  void HoldNotifications(bool hold);

  // Ends the notification thread and drops every registration; later calls fail with
  // AUDCLNT_E_DEVICE_INVALIDATED. Called when the endpoint is uninstalled.
  void Shutdown();
  // False while the server is absent: CoCreateInstance refuses.
  bool ServerPresent() const;

  HRESULT DefaultDevice() override;
  HRESULT GetLevel(float& level) override;
  HRESULT SetLevel(float level) override;
  HRESULT StepLevel(int direction) override;
  HRESULT GetMute(bool& mute) override;
  HRESULT SetMute(bool mute) override;
  HRESULT GetChannelCount(UINT& count) override;
  HRESULT Register(IAudioEndpointVolumeCallback* callback) override;

 private:
  struct TNotice {
    float Level;
    bool Mute;
  };
  HRESULT CallResult() const;  // under FLock
  void NotifyLocked();         // queues the current state; under FLock
  void Run();

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  float FLevel = 0.4f;
  bool FMute = false;
  bool FServerPresent = true;
  bool FDevicePresent = true;
  bool FShutDown = false;
  bool FHold = false;
  HRESULT FRefusal = S_OK;
  std::deque<TNotice> FQueue;
  size_t FSent = 0;
  std::thread FThread;
};

// Installs a virtual endpoint for the whole process while alive: level 0.4, unmuted, server and
// device present. Guards nest; each puts back the one installed before it, so they end in
// reverse order of creation.
class TScopedVirtualEndpoint {
 public:
  TScopedVirtualEndpoint();
  ~TScopedVirtualEndpoint();
  TScopedVirtualEndpoint(const TScopedVirtualEndpoint&) = delete;
  TScopedVirtualEndpoint& operator=(const TScopedVirtualEndpoint&) = delete;

  TVirtualEndpoint& operator*() { return *FEndpoint; }
  TVirtualEndpoint* operator->() { return FEndpoint.get(); }

 private:
  std::shared_ptr<TVirtualEndpoint> FEndpoint;
  std::shared_ptr<TVirtualEndpoint> FPrevious;
};

// The endpoint CoCreateInstance answers from, or nullptr for the sound server.
std::shared_ptr<TVirtualEndpoint> InstalledVirtualEndpoint();
