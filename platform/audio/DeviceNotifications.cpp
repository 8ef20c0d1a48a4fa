#include <qx/platform/audio/DeviceNotifications.h>

#include <algorithm>

HRESULT TDeviceNotifications::Register(IMMNotificationClient* client) {
  if (client == nullptr) return E_POINTER;
  std::lock_guard lock(FLock);
  if (std::find(FClients.begin(), FClients.end(), client) != FClients.end()) return E_INVALIDARG;
  client->AddRef();
  FClients.push_back(client);
  return S_OK;
}

HRESULT TDeviceNotifications::Unregister(IMMNotificationClient* client) {
  if (client == nullptr) return E_POINTER;
  {
    std::lock_guard deliver(FDeliverLock);
    std::lock_guard lock(FLock);
    auto it = std::find(FClients.begin(), FClients.end(), client);
    if (it == FClients.end()) return E_INVALIDARG;
    FClients.erase(it);
  }
  client->Release();
  return S_OK;
}

void TDeviceNotifications::StateChanged(const String& deviceId, DWORD state) {
  std::lock_guard deliver(FDeliverLock);
  std::vector<IMMNotificationClient*> snapshot;
  {
    std::lock_guard lock(FLock);
    snapshot = FClients;
    for (IMMNotificationClient* c : snapshot) c->AddRef();
  }
  for (IMMNotificationClient* c : snapshot) {
    bool registered;
    {
      std::lock_guard lock(FLock);
      registered = std::find(FClients.begin(), FClients.end(), c) != FClients.end();
    }
    if (registered) c->OnDeviceStateChanged(deviceId.c_str(), state);
    c->Release();
  }
}

TDeviceNotifications& DeviceNotifications() {
  // Never destroyed: a backend's thread may still report while the process ends.
  static auto* notifications = new TDeviceNotifications;
  return *notifications;
}
