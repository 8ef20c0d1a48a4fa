#include <qx/master_volume/QxMasterVolReg.h>

#include <cmath>

#include <qx/framework/design/Package.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/platform/audio/AudioDevices.h>
#include <qx/platform/mixer/MixerControls.h>

TPropertyAttributes TAudioDeviceProperty::GetAttributes() {
  return AttrSet({paValueList, paMultiSelect, paRevertable});
}

void TAudioDeviceProperty::GetValues(const TGetStrProc& Proc) {
  auto* volume = dynamic_cast<TQxMasterVol*>(GetComponent(0));
  if (volume != nullptr && volume->WindowsVer() == "Windows XP") {
    for (const TMixerControlInfo& c : ListMixerControls()) Proc(c.Name);
    return;
  }
  std::vector<TAudioDeviceInfo> devices;
  String error;
  if (!ListAudioDevices(devices, error)) return;  // no server: nothing to offer
  Proc("@DEFAULT_SOURCE@");
  for (const TAudioDeviceInfo& d : devices)
    if (!d.Monitor) Proc(d.Name);
}

namespace {

// A loudspeaker with two sound waves, on a light ground.
const std::vector<uint8_t>& PaletteDib() {
  static const std::vector<uint8_t> dib = [] {
    TPaletteBitmap b(0xF0F0F0);
    const uint32_t body = 0x303030, wave = 0x0060C0;
    b.Fill(2, 9, 5, 6, body);
    for (int i = 0; i < 6; ++i) b.Fill(7 + i, 9 - i, 1, 6 + 2 * i, body);
    for (int y = 0; y < TPaletteBitmap::Size; ++y)
      for (int x = 14; x < TPaletteBitmap::Size; ++x) {
        double d = std::hypot(x - 9.5, y - 11.5);
        if (std::fabs(d - 6.5) < 0.7 || std::fabs(d - 10.5) < 0.7) b.Pixel(x, y, wave);
      }
    return b.Dib();
  }();
  return dib;
}

}  // namespace

QX_PACKAGE_EXPORT void Register() {
  RegisterComponents("Velmor", {TQxMasterVol::StaticClassInfo()});
  RegisterPropertyEditor(TypeInfo<String>(), TQxMasterVol::StaticClassInfo(), "AudioDevice",
                         EditorClassOf<TAudioDeviceProperty>());
}

QX_PACKAGE_EXPORT const TQxPackageInfo* QxPackageInfo() {
  // Design-only: an application links the runtime package QxMasterVolPkg.
  static const char* const requires_[] = {"framework", "design", "net", "TQxUDPS",
                                          "QxMasterVolPkg"};
  static const TQxBitmapResource bitmaps[] = {
      {"TQXMASTERVOL", PaletteDib().data(), PaletteDib().size()}};
  static const TQxPackageInfo info{"QxMasterVolReg",
                                   "Velmor master volume component (design time)",
                                   "1.0.0.0",
                                   "1.0.0.0",
                                   "QxMasterVolReg",
                                   "QxMasterVolPkg",
                                   requires_,
                                   5,
                                   true,
                                   false,
                                   bitmaps,
                                   1};
  return &info;
}
