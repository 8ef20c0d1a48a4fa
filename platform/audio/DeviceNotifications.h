// The process's IMMNotificationClient registrations, told when a watched device comes or goes.
// Each registration holds a reference until it is unregistered; once Unregister returns, the
// client is not called again.
#pragma once

#include <mutex>
#include <vector>

#include <qx/framework/core/System.h>
#include <qx/platform/audio/mmdevapi.h>

class TDeviceNotifications {
 public:
  // E_POINTER for nullptr, E_INVALIDARG when already registered (or, for Unregister, not).
  HRESULT Register(IMMNotificationClient* client);
  HRESULT Unregister(IMMNotificationClient* client);
  // Calls OnDeviceStateChanged of every client (on the caller's thread).
  void StateChanged(const String& deviceId, DWORD state);

 private:
  std::recursive_mutex FDeliverLock;  // a client may unregister itself from its call
  std::mutex FLock;
  std::vector<IMMNotificationClient*> FClients;
};

TDeviceNotifications& DeviceNotifications();
