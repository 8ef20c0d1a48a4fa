// The process's IMMNotificationClient registrations, told when a watched device comes or goes.
#pragma once

#include <qx/framework/core/System.h>
#include <qx/platform/audio/ComRegistrations.h>

class TDeviceNotifications : public TComRegistrations<IMMNotificationClient> {
 public:
  // Calls OnDeviceStateChanged of every client (on the caller's thread).
  void StateChanged(const String& deviceId, DWORD state) {
    Deliver([&](IMMNotificationClient* c) { c->OnDeviceStateChanged(deviceId.c_str(), state); });
  }
};

TDeviceNotifications& DeviceNotifications();
