#include <qx/platform/audio/VirtualEndpoint.h>

namespace {

std::mutex gInstallLock;
std::shared_ptr<TVirtualEndpoint> gInstalled;

}  // namespace

TVirtualEndpoint::TVirtualEndpoint() : FThread([this] { Run(); }) {}

TVirtualEndpoint::~TVirtualEndpoint() {
  Shutdown();
}

void TVirtualEndpoint::Shutdown() {
  {
    std::lock_guard lock(FLock);
    FShutDown = true;
    FQueue.clear();
  }
  FChanged.notify_all();
  if (FThread.joinable()) {
    // Ended from one of its own callbacks: the thread returns by itself once this call is done.
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();
    else
      FThread.join();
  }
  FCallbacks.Clear();
}

void TVirtualEndpoint::SetServerPresent(bool present) {
  std::lock_guard lock(FLock);
  FServerPresent = present;
}

void TVirtualEndpoint::SetDevicePresent(bool present) {
  std::lock_guard lock(FLock);
  FDevicePresent = present;
}

void TVirtualEndpoint::ChangeLevel(float level) {
  std::lock_guard lock(FLock);
  FLevel = ClampLevel(level);
  NotifyLocked();
}

void TVirtualEndpoint::ChangeMute(bool mute) {
  std::lock_guard lock(FLock);
  FMute = mute;
  NotifyLocked();
}

void TVirtualEndpoint::SwitchDefaultDevice(float level, bool mute) {
  std::lock_guard lock(FLock);
  FDevicePresent = true;
  FLevel = ClampLevel(level);
  FMute = mute;
  NotifyLocked();
}

void TVirtualEndpoint::RefuseCalls(HRESULT hr) {
  std::lock_guard lock(FLock);
  FRefusal = hr;
}

float TVirtualEndpoint::Level() const {
  std::lock_guard lock(FLock);
  return FLevel;
}

bool TVirtualEndpoint::Muted() const {
  std::lock_guard lock(FLock);
  return FMute;
}

size_t TVirtualEndpoint::NotificationsSent() const {
  std::lock_guard lock(FLock);
  return FSent;
}

bool TVirtualEndpoint::WaitForNotifications(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, timeout, [&] { return FSent >= count; });
}

void TVirtualEndpoint::HoldNotifications(bool hold) {
  {
    std::lock_guard lock(FLock);
    FHold = hold;
  }
  FChanged.notify_all();
}

bool TVirtualEndpoint::ServerPresent() const {
  std::lock_guard lock(FLock);
  return FServerPresent && !FShutDown;
}

HRESULT TVirtualEndpoint::CallResult() const {
  if (FShutDown) return AUDCLNT_E_DEVICE_INVALIDATED;
  if (!FServerPresent) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  if (!FDevicePresent) return AUDCLNT_E_DEVICE_INVALIDATED;
  return FRefusal;
}

void TVirtualEndpoint::NotifyLocked() {
  if (FShutDown) return;
  FQueue.push_back({FLevel, FMute});
  FChanged.notify_all();
}

HRESULT TVirtualEndpoint::DefaultDevice() {
  std::lock_guard lock(FLock);
  if (FShutDown || !FServerPresent) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  return FDevicePresent ? S_OK : E_NOTFOUND;
}

HRESULT TVirtualEndpoint::GetLevel(float& level) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  level = FLevel;
  return S_OK;
}

HRESULT TVirtualEndpoint::SetLevel(float level) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  FLevel = ClampLevel(level);
  NotifyLocked();
  return S_OK;
}

HRESULT TVirtualEndpoint::StepLevel(int direction) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  FLevel = SteppedLevel(FLevel, direction);
  NotifyLocked();
  return S_OK;
}

HRESULT TVirtualEndpoint::GetMute(bool& mute) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  mute = FMute;
  return S_OK;
}

HRESULT TVirtualEndpoint::SetMute(bool mute) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  FMute = mute;
  NotifyLocked();
  return S_OK;
}

HRESULT TVirtualEndpoint::GetChannelCount(UINT& count) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  count = Channels;
  return S_OK;
}

HRESULT TVirtualEndpoint::Register(IAudioEndpointVolumeCallback* callback) {
  {
    std::lock_guard lock(FLock);
    if (const HRESULT hr = CallResult(); FAILED(hr)) return hr;
  }
  return TEndpointBackend::Register(callback);
}

void TVirtualEndpoint::Run() {
  std::unique_lock lock(FLock);
  for (;;) {
    FChanged.wait(lock, [&] { return FShutDown || (!FHold && !FQueue.empty()); });
    if (FShutDown) return;
    const TNotice notice = FQueue.front();
    FQueue.pop_front();
    lock.unlock();
    const float channels[Channels] = {notice.Level, notice.Level};
    const size_t calls = FCallbacks.Deliver(notice.Level, notice.Mute, channels);
    lock.lock();
    FSent += calls;
    FChanged.notify_all();
  }
}

TScopedVirtualEndpoint::TScopedVirtualEndpoint() : FEndpoint(std::make_shared<TVirtualEndpoint>()) {
  std::lock_guard lock(gInstallLock);
  FPrevious = gInstalled;
  gInstalled = FEndpoint;
}

TScopedVirtualEndpoint::~TScopedVirtualEndpoint() {
  {
    std::lock_guard lock(gInstallLock);
    gInstalled = FPrevious;
  }
  FEndpoint->Shutdown();
}

std::shared_ptr<TVirtualEndpoint> InstalledVirtualEndpoint() {
  std::lock_guard lock(gInstallLock);
  return gInstalled;
}
