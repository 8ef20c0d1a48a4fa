// Which device the component steers (AudioDevice) and its coming and going (OnDeviceChange).
//
// AudioDevice, on the sound-server path:
//   ""                  the default output, followed when the default changes;
//   "@DEFAULT_SOURCE@"  the default input (the microphone), followed likewise;
//   a name              the sink or source of that name, as `pactl list short sinks` (or
//                       sources) prints it.
// On the legacy mixer path: "DEVICE/CONTROL", DEVICE an ALSA mixer device as `amixer -D` takes
// it ("default", "hw:1", "hw:CARD=PCH") and CONTROL a simple control's name, optionally with
// ",INDEX" ("PCM", "Capture", "Mic,1"). Either part may be left out: "hw:1" takes the card's
// first of Master, Speaker, PCM, Headphone; "/PCM" the control on "default". Empty is the
// "default" mixer's first of those controls.
//
// A named device that is not there is not steered: reads keep the last volume, writes change
// nothing. OnDeviceChange tells the state once when AudioDevice is applied and once at each
// coming or going after that; a device that comes back is bound again and its level shown.
#include <qx/master_volume/QxMasterVol.h>

namespace {

// Runs on the endpoint's notification thread: only posts to the component's window, which asks
// the device itself (the state may have changed again by then).
class TMyDeviceNotificationClient : public TInterfacedObjectOf<IMMNotificationClient> {
 public:
  TMyDeviceNotificationClient(HWND window, String device)
      : FWindow(window), FDevice(std::move(device)) {}

  HRESULT OnDeviceStateChanged(LPCWSTR pwstrDeviceId, DWORD dwNewState) override {
    if (pwstrDeviceId != nullptr && FDevice == pwstrDeviceId)
      PostMessageW(FWindow, WM_QXDEVICE_CHANGE, dwNewState, 0);
    return S_OK;
  }
  HRESULT OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }

 private:
  const HWND FWindow;
  const String FDevice;
};

}  // namespace

void TQxMasterVol::SetFAudioDevice(const String& Value) {
  if (Value == FAudioDevice && !FDeviceDue) return;
  FAudioDevice = Value;
  // Bound once the whole form is read, so that OnDeviceChange reaches its handler.
  if (IsLoading()) {
    FDeviceDue = true;
    return;
  }
  BindDevice();
}

void TQxMasterVol::BindDevice() {
  FDeviceDue = false;
  UnwatchDevice();
  ReleaseEndpoint();
  if (LegacyPath()) {
    FMixerId = 0;
    if (FMixerWatch != nullptr) mixerClose(std::exchange(FMixerWatch, nullptr));
    if (!FAudioDevice.empty() && mixerGetIDByName(FAudioDevice.c_str(), &FMixerId) != 0)
      FMixerId = UINT(-1);  // a name the mixer functions refuse: nothing to open
  } else if (!FAudioDevice.empty()) {
    WatchDevice();
  }
  FVolume = GetActualVolume();  // opens the endpoint or watches the mixer
  FDevicePresent = DevicePresentNow();
  if (!FAudioDevice.empty()) DoDeviceChange(FAudioDevice, FDevicePresent);
}

void TQxMasterVol::WatchDevice() {
  if (!FDeviceEnumerator &&
      (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMMDeviceEnumerator, FDeviceEnumerator.PutVoid())) ||
       !FDeviceEnumerator))
    return;
  FDeviceWatch =
      TComPtr<IMMNotificationClient>(new TMyDeviceNotificationClient(FWindow, FAudioDevice));
  FDeviceEnumerator->RegisterEndpointNotificationCallback(FDeviceWatch.Get());
}

void TQxMasterVol::UnwatchDevice() {
  // Once this returns, nothing posts to the window any more.
  if (FDeviceEnumerator && FDeviceWatch)
    FDeviceEnumerator->UnregisterEndpointNotificationCallback(FDeviceWatch.Get());
  FDeviceWatch.Reset();
}

bool TQxMasterVol::OpenNamedEndpoint() {
  if (!FDeviceEnumerator) return false;
  TComPtr<IMMDevice> device;
  if (FAILED(FDeviceEnumerator->GetDevice(FAudioDevice.c_str(), device.Put())) || !device)
    return false;
  DWORD state = 0;
  if (FAILED(device->GetState(&state)) || state != DEVICE_STATE_ACTIVE) return false;
  return ActivateEndpoint(device.Get());
}

bool TQxMasterVol::DevicePresentNow() {
  if (FAudioDevice.empty()) return true;
  if (LegacyPath()) {
    uint16_t value = 0;
    return GetWinXPMasterVolume(value);
  }
  if (!FDeviceEnumerator) return false;
  TComPtr<IMMDevice> device;
  DWORD state = 0;
  return SUCCEEDED(FDeviceEnumerator->GetDevice(FAudioDevice.c_str(), device.Put())) && device &&
         SUCCEEDED(device->GetState(&state)) && state == DEVICE_STATE_ACTIVE;
}

void TQxMasterVol::DeviceChanged() {
  if (FAudioDevice.empty()) return;
  const bool present = DevicePresentNow();
  if (present == FDevicePresent) return;
  FDevicePresent = present;
  if (!present) {
    // Nothing of the gone device is read or written from here on.
    ReleaseEndpoint();
    DoDeviceChange(FAudioDevice, false);
    return;
  }
  FVolume = GetActualVolume();  // binds again
  DoDeviceChange(FAudioDevice, true);
  ShowFrmVolume();
}

bool TQxMasterVol::CaptureDevice() {
  if (LegacyPath()) {
    // A capture control by its name, as ALSA names them.
    const String control = FAudioDevice.substr(FAudioDevice.rfind('/') + 1);
    return FAudioDevice.find('/') != String::npos &&
           (SameText(control.substr(0, 7), "Capture") || SameText(control.substr(0, 3), "Mic"));
  }
  if (!FEndPointVolume || FAudioDevice.empty() || !FDeviceEnumerator) return false;
  TComPtr<IMMDevice> device;
  TComPtr<IMMEndpoint> endpoint;
  EDataFlow flow = eRender;
  return SUCCEEDED(FDeviceEnumerator->GetDevice(FAudioDevice.c_str(), device.Put())) && device &&
         SUCCEEDED(device->QueryInterface(IID_IMMEndpoint, endpoint.PutVoid())) && endpoint &&
         SUCCEEDED(endpoint->GetDataFlow(&flow)) && flow == eCapture;
}

void TQxMasterVol::DoDeviceChange(const String& Device, bool Present) {
  if (FOnDeviceChange.Assigned()) FOnDeviceChange(this, Device, Present);
}
