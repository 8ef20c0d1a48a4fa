#include <qx/platform/audio/DeviceNotifications.h>

TDeviceNotifications& DeviceNotifications() {
  // Never destroyed: a backend's thread may still report while the process ends.
  static auto* notifications = new TDeviceNotifications;
  return *notifications;
}
