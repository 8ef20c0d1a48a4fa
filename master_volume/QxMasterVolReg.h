// Design-time support of the volume package: its palette registration, the value list of the
// AudioDevice property, and the package's resources for a designer host.
#pragma once

#include <qx/framework/design/DesignIntf.h>

// Offers the devices present now: on the sound-server path "@DEFAULT_SOURCE@" and each sink's
// and source's name (monitors left out), on the legacy mixer path each ALSA mixer control as
// DEVICE/CONTROL. Any other text can still be typed, an empty one for the default output.
class TAudioDeviceProperty : public TStringProperty {
 public:
  static constexpr const char* EditorName = "TAudioDeviceProperty";
  using TStringProperty::TStringProperty;
  TPropertyAttributes GetAttributes() override;
  void GetValues(const TGetStrProc& Proc) override;
};
