#include <qx/master_volume/QxMasterVol.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Forms.h>
#include <qx/master_volume/frmVolumeU.h>
#include <qx/platform/mixer/SysVersion.h>

std::atomic<HWND> AFWindow{nullptr};

namespace {

constexpr const char* kVersion = "1.0";
constexpr const char* kLegacyName = "Windows XP";

// The hidden windows of the live components, oldest first (main thread only). When the component
// AFWindow names dies, notifications go to the newest survivor instead of nowhere.
std::vector<HWND>& LiveWindows() {
  static std::vector<HWND> windows;
  return windows;
}

int32_t ClampPercent(int32_t v) {
  return std::clamp(v, 0, 100);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Notifications

HRESULT TMyEndpointVolumeCallback::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA pNotify) {
  if (pNotify == nullptr || !std::isfinite(pNotify->fMasterVolume)) return S_OK;
  const float level = std::clamp(pNotify->fMasterVolume, 0.0f, 1.0f);
  const int32_t percent = static_cast<int32_t>(Round(level * 100.0));
  // The percent travels in the message: the overlay's cell Fvol is the main thread's alone.
  PostMessageW(AFWindow.load(), WM_QXVOLUME_NOTIFY, static_cast<WPARAM>(percent), 0);
  return S_OK;
}

void TQxMasterVol::WndProc(TMessage& Message) {
  if (Message.Msg == WM_QXVOLUME_NOTIFY) {
    FVolume = static_cast<int32_t>(Message.WParam);
    ShowFrmVolume();
    return;
  }
  if (Message.Msg == WM_QXDEVICE_CHANGE) {
    DeviceChanged();
    return;
  }
  // The mixer's message carries no level: the read answers from the mixer's known state.
  if (Message.Msg == MM_MIXM_CONTROL_CHANGE && FMixerWatch != nullptr &&
      Message.WParam == reinterpret_cast<WPARAM>(FMixerWatch)) {
    // A named mixer device may also have come or gone.
    if (!FAudioDevice.empty() && DevicePresentNow() != FDevicePresent) {
      DeviceChanged();
      return;
    }
    FVolume = GetActualVolume();
    ShowFrmVolume();
    return;
  }
  Message.Result = DefWindowProcW(FWindow, Message.Msg, Message.WParam, Message.LParam);
}

void TQxMasterVol::DeallocateHWnd(HWND Wnd) {
  const LONG_PTR defProc = reinterpret_cast<LONG_PTR>(&DefWindowProcW);
  const LONG_PTR proc = GetWindowLongW(Wnd, GWL_WNDPROC);
  if (proc != defProc) SetWindowLongW(Wnd, GWL_WNDPROC, defProc);
  if (proc != 0 && proc != defProc) FreeObjectInstance(reinterpret_cast<void*>(proc));
  DestroyWindow(Wnd);
}

// ---------------------------------------------------------------------------------------------
// The component

QX_DEFINE_CLASS(TQxMasterVol, TComponent, [](TPropsBuilder<TQxMasterVol>& p) {
  using C = TQxMasterVol;
  p.Text("WindowsVer", &C::WindowsVer, nullptr);
  p.Integer("Volume", &C::Volume, &C::SetFVolume);
  p.Text("UdpAtCmdIn", &C::UdpAtCmdIn, &C::SetFUdpAtCmdIn);
  p.Text("UdpAtCmdMute", &C::UdpAtCmdMute, &C::SetFUdpAtCmdMute);
  p.Text("UdpAtCmdGetMute", &C::UdpAtCmdGetMute, &C::SetFUdpAtCmdGetMute);
  p.Text("UdpAtCmdVolUp", &C::UdpAtCmdVolUp, &C::SetFUdpAtCmdVolUp);
  p.Text("UdpAtCmdVolDown", &C::UdpAtCmdVolDown, &C::SetFUdpAtCmdVolDown);
  p.Text("UdpRxPort", &C::UdpRxPort, &C::SetFUdpRxPort);
  p.Text("UdpTxPort", &C::UdpTxPort, &C::SetFUdpTxPort);
  p.Text("UdpRemoteIP", &C::UdpRemoteIP, &C::SetFUdpRemoteIP);
  p.Color("VolDotsColor", &C::VolDotsColor, &C::SetFVolDotsColor, 16777215);
  p.Color("VolBarsColor", &C::VolBarsColor, &C::SetFVolBarsColor, 65535);
  p.Enum("ScreenVolAlign", AlignNames(), &C::ScreenVolAlign, &C::SetFScreenVolAlign, alBottom);
  p.Boolean("ShowScreenVol", &C::ShowScreenVol, &C::setFShowScreenVol, true);
  p.template Reference<TTrackBar>("VolumeTrackBar", &C::VolumeTrackBar, &C::setFVolumeTrackBar);
  p.template Reference<TQxUDPS>("QxUDPS", &C::QxUDPS, &C::setFUdp);
  p.template Event<TOnAudioChange>("OnAudioChange", &C::OnAudioChange, &C::SetFOnAudioChange);
  p.Text("Version", &C::Version, nullptr);
  // The component's own additions, after the properties forms have always had.
  p.Text("UdpAtCmdGetVol", &C::UdpAtCmdGetVol, &C::SetFUdpAtCmdGetVol);
  p.Boolean("UdpAtEachLine", &C::UdpAtEachLine, &C::SetFUdpAtEachLine, false);
  p.template Event<TOnUdpQuery>("OnUdpQuery", &C::OnUdpQuery, &C::SetFOnUdpQuery);
  p.Text("AudioDevice", &C::AudioDevice, &C::SetFAudioDevice);
  p.template Event<TOnDeviceChange>("OnDeviceChange", &C::OnDeviceChange, &C::SetFOnDeviceChange);
  p.Text("UdpKeyFile", &C::UdpKeyFile, &C::SetFUdpKeyFile);
  p.Text("UdpCounterFile", &C::UdpCounterFile, &C::SetFUdpCounterFile);
  p.template Event<TOnUdpKeyProblem>("OnUdpKeyProblem", &C::OnUdpKeyProblem,
                                     &C::SetFOnUdpKeyProblem);
  p.template Event<TOnUdpCommand>("OnUdpCommand", &C::OnUdpCommand, &C::SetFOnUdpCommand);
})

TQxMasterVol::TQxMasterVol(TComponent* AOwner) : TComponent(AOwner) {
  FParent = AOwner;
  FVersion = kVersion;
  FWindow = AllocateHWnd(TWndMethod(this, &TQxMasterVol::WndProc));
  LiveWindows().push_back(FWindow);
  AFWindow.store(FWindow);
  FMMChange = RegisterWindowMessageW("winmm_devicechange");
  FWindowsVer = GetWindowsVersion();
  FUdpAtCmdIn = "AT+SETVOL=";
  FUdpAtCmdMute = "AT+MUTE";
  FUdpAtCmdGetMute = "AT+GETMUTE";
  FUdpAtCmdVolUp = "AT+VOLUP";
  FUdpAtCmdVolDown = "AT+VOLDOWN";
  FUdpAtCmdGetVol = "AT+GETVOL";
  FUdpRxPort = "2800";
  FUdpTxPort = "2801";
  FEndPointVolume.Reset();
  FVolume = GetActualVolume();
  setFShowScreenVol(true);
  FScreenVolAlign = alBottom;
  SetFVolDotsColor(clWhite);
  SetFVolBarsColor(clYellow);
}

TQxMasterVol::~TQxMasterVol() = default;

void TQxMasterVol::BeforeDestruction() {
  if (FMixerWatch != nullptr) mixerClose(std::exchange(FMixerWatch, nullptr));
  DeallocateHWnd(FWindow);
  auto& live = LiveWindows();
  live.erase(std::remove(live.begin(), live.end(), FWindow), live.end());
  if (AFWindow.load() == FWindow) AFWindow.store(live.empty() ? nullptr : live.back());
  UnhookTrackBar();
  ReleaseUdpLink();
  UnwatchDevice();
  ReleaseEndpoint();
  if (frmVolume != nullptr) frmVolume->RemoveFreeNotification(this);
  TComponent::BeforeDestruction();
}

void TQxMasterVol::Loaded() {
  const bool wasLoading = IsLoading();
  TComponent::Loaded();
  if (FDeviceDue) BindDevice();
  if (!IsDesigning() && wasLoading && !FUdpKeyFile.empty()) LoadUdpKeyFile();
  if (!IsDesigning() && wasLoading && FVolumeTrackBar != nullptr) {
    FVolume = GetActualVolume();
    MoveTrackBar(FVolume);
  }
}

void TQxMasterVol::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove || AComponent == nullptr) return;
  if (AComponent == FVolumeTrackBar) {
    FVolumeTrackBar = nullptr;
    FSavedOnVolumeTrackBar = TNotifyEvent();
  }
  if (AComponent == FUdp) {
    FUdp->SetFOnGetPacketUDP(TOnGetPacketUDP());
    FUdp->SetFOnUDPStatus(TOnUDPStatus());
    FUdp = nullptr;
  }
  // The overlay belongs to the application; whoever frees it must not leave it named here.
  if (AComponent == frmVolume) frmVolume = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Reading and applying the volume

bool TQxMasterVol::LegacyPath() const {
  return FWindowsVer == kLegacyName;
}

bool TQxMasterVol::OpenEndpoint() {
  if (!FAudioDevice.empty()) return OpenNamedEndpoint();
  TComPtr<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IMMDeviceEnumerator, enumerator.PutVoid())) ||
      !enumerator)
    return false;
  TComPtr<IMMDevice> device;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.Put())) || !device)
    return false;
  return ActivateEndpoint(device.Get());
}

bool TQxMasterVol::ActivateEndpoint(IMMDevice* device) {
  TComPtr<IAudioEndpointVolume> volume;
  if (FAILED(device->Activate(IID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr,
                              volume.PutVoid())) ||
      !volume)
    return false;
  FEndPointVolume = volume;
  MyEndpointVolumeCallback = TComPtr<IAudioEndpointVolumeCallback>(new TMyEndpointVolumeCallback);
  FEndPointVolume->RegisterControlChangeNotify(MyEndpointVolumeCallback.Get());
  return true;
}

void TQxMasterVol::ReleaseEndpoint() {
  // Unregistered while the endpoint is still held, so that no registration outlives it.
  if (FEndPointVolume && MyEndpointVolumeCallback)
    FEndPointVolume->UnregisterControlChangeNotify(MyEndpointVolumeCallback.Get());
  FEndPointVolume.Reset();
  MyEndpointVolumeCallback.Reset();
}

void TQxMasterVol::WatchMixer() {
  if (mixerOpen(&FMixerWatch, FMixerId, reinterpret_cast<DWORD_PTR>(FWindow), 0, CALLBACK_WINDOW) !=
      MMSYSERR_NOERROR)
    FMixerWatch = nullptr;
}

int32_t TQxMasterVol::GetActualVolume() {
  const int32_t fallback = ClampPercent(FVolume);
  if (LegacyPath()) {
    // As the endpoint is opened and registered on its first read, so the mixer is watched; a
    // mixer that was not there is looked for again on the next read.
    if (FMixerWatch == nullptr) WatchMixer();
    uint16_t value = 0;
    if (!GetWinXPMasterVolume(value)) return fallback;
    return static_cast<int32_t>(Round(static_cast<int32_t>(value) * 100 / 65535.0));
  }
  if (!FEndPointVolume && !OpenEndpoint()) return fallback;
  float level = 0;
  if (FAILED(FEndPointVolume->GetMasterVolumeLevelScalar(&level)) || !std::isfinite(level))
    return fallback;
  return static_cast<int32_t>(Round(std::clamp(level, 0.0f, 1.0f) * 100.0));
}

void TQxMasterVol::SetVolume(int32_t Value) {
  if (!DevicePresent()) return;  // a named device that is gone: nothing to steer
  FVolume = Value > 100 ? 100 : Value;
  SetVolume();
}

void TQxMasterVol::SetVolume() {
  // Volume itself may lie outside 0..100 (written directly, or a negative SetVolume; the overlay
  // shows it so); the system only ever gets 0..100, never a wrapped mixer value.
  const int32_t applied = ClampPercent(FVolume);
  if (FVolumeTrackBar != nullptr) MoveTrackBar(FVolume);
  if (LegacyPath()) {
    SetWinXPMasterVolume(static_cast<uint16_t>(Round(applied * 65535 / 100.0)));
  } else if (FEndPointVolume) {
    const float level = static_cast<float>(applied / 100.0);
    if (IsDesigning()) return;
    FEndPointVolume->SetMasterVolumeLevelScalar(level, nullptr);
  }
  if (FShowScreenVol) ShowFrmVolume();
  FLastVol = FVolume;
}

void TQxMasterVol::VolumeUp() {
  Step(+1);
}

void TQxMasterVol::VolumeDown() {
  Step(-1);
}

void TQxMasterVol::Step(int direction) {
  if (!DevicePresent()) return;
  if (LegacyPath()) {
    // One percent, kept within 0..100; applied and shown even at either end.
    if (direction > 0 ? FVolume < 100 : FVolume > 0) FVolume += direction;
    SetVolume(FVolume);
    ShowFrmVolume();
    return;
  }
  if (!FEndPointVolume) return;
  if (direction > 0)
    FEndPointVolume->VolumeStepUp(nullptr);
  else
    FEndPointVolume->VolumeStepDown(nullptr);
  // The level the step reached, before anything shows or reports it; the notification then
  // confirms it as for any change.
  FVolume = GetActualVolume();
  if (FVolumeTrackBar != nullptr) MoveTrackBar(FVolume);
  ShowFrmVolume();
}

void TQxMasterVol::Mute(bool mt) {
  if (!FEndPointVolume) return;
  FEndPointVolume->SetMute(mt ? 1 : 0, nullptr);
  // The overlay step shows the new state (and repaints) from what the endpoint now holds.
  ShowFrmVolume();
}

bool TQxMasterVol::GetMute() {
  if (!FEndPointVolume) return false;
  BOOL muted = 0;
  if (FAILED(FEndPointVolume->GetMute(&muted))) return false;
  return muted != 0;
}

// ---------------------------------------------------------------------------------------------
// The track bar

void TQxMasterVol::setFVolumeTrackBar(TTrackBar* Value) {
  if (Value != FVolumeTrackBar) UnhookTrackBar();
  FVolumeTrackBar = Value;
  if (Value == nullptr) return;
  Value->FreeNotification(this);
  Value->SetMax(100);
  Value->SetFrequency(10);
  Value->SetTickMarks(tmBottomRight);
  Value->SetShowSelRange(false);
  if (IsDesigning()) return;
  const TNotifyEvent hook(this, &TQxMasterVol::MyOnVolumeTrackBar);
  // Linked again: the handler saved the first time stays; the hook is never saved as its own.
  if (Value->OnChange == hook) return;
  FSavedOnVolumeTrackBar = Value->OnChange;
  Value->OnChange = hook;
}

void TQxMasterVol::UnhookTrackBar() {
  TTrackBar* bar = FVolumeTrackBar;
  if (bar == nullptr) return;
  // A handler someone installed after ours is theirs to keep.
  if (bar->OnChange == TNotifyEvent(this, &TQxMasterVol::MyOnVolumeTrackBar))
    bar->OnChange = FSavedOnVolumeTrackBar;
  FSavedOnVolumeTrackBar = TNotifyEvent();
  FVolumeTrackBar = nullptr;
  RemoveFreeNotification(bar);
}

void TQxMasterVol::MoveTrackBar(int32_t position) {
  if (FVolumeTrackBar == nullptr) return;
  const bool was = FMovingTrackBar;
  FMovingTrackBar = true;
  FVolumeTrackBar->SetPosition(position);
  FMovingTrackBar = was;
}

void TQxMasterVol::MyOnVolumeTrackBar(TObject*) {
  if (FSavedOnVolumeTrackBar.Assigned()) FSavedOnVolumeTrackBar(this);
  // The component's own moves of the bar already carry the volume being applied.
  if (FMovingTrackBar || FVolumeTrackBar == nullptr) return;
  FVolume = FVolumeTrackBar->Position();
  if (FEndPointVolume) SetVolume(FVolume);
}

// ---------------------------------------------------------------------------------------------
// The overlay

void TQxMasterVol::ShowFrmVolume() {
  TfrmVolume* form = frmVolume;
  // A named device that is gone has no level to show.
  if (!FShowScreenVol || form == nullptr || !DevicePresent()) return;
  const bool mute = GetMute();
  form->ShowCapture(CaptureDevice());
  // An owner that is not a form has no focus to get back.
  form->ShowLevel(FVolume, mute, FScreenVolAlign, dynamic_cast<TCustomForm*>(FParent));
  if (FVolumeTrackBar != nullptr) MoveTrackBar(FVolume);
  DoOnMyAudioChangeNotify(this, FVolume, mute);
}

void TQxMasterVol::DoOnMyAudioChangeNotify(TObject*, int32_t MasterVolume, bool Mute) {
  if (FOnAudioChange.Assigned()) FOnAudioChange(this, MasterVolume, Mute);
}

void TQxMasterVol::setFShowScreenVol(bool Value) {
  if (Value == FShowScreenVol) return;
  FShowScreenVol = Value;
  if (IsDesigning() || !Value) return;
  if (frmVolume == nullptr) {
    auto* form = new TfrmVolume(Application);  // owned by the application
    form->SetScaled(false);
    form->SetTransparentColorValue(clFuchsia);
    form->SetTransparentColor(true);
    form->SetCaption("VOLUME");
    form->VolAlign = alBottom;
    frmVolume = form;
  }
  frmVolume->FreeNotification(this);
}

void TQxMasterVol::SetFScreenVolAlign(TAlign Value) {
  FScreenVolAlign = (Value == alTop || Value == alBottom) ? Value : alBottom;
  if (frmVolume != nullptr) frmVolume->Hide();
  ShowFrmVolume();
}

void TQxMasterVol::SetFVolBarsColor(TColor Value) {
  FVolBarsColor = Value;
  if (frmVolume != nullptr && FShowScreenVol) frmVolume->barsColor = Value;
}

void TQxMasterVol::SetFVolDotsColor(TColor Value) {
  FVolDotsColor = Value;
  if (frmVolume != nullptr && FShowScreenVol) frmVolume->dotsColor = Value;
}
