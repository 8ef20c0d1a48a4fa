// TQxMasterVol: the master-volume component. Reads, sets, steps and mutes the system's output
// volume (the sound server's endpoint, or the legacy mixer where the version name is "Windows
// XP"), follows changes made by any program, keeps a track bar in step, shows the on-screen
// overlay and raises OnAudioChange with what it shows; linked to a TQxUDPS it obeys AT commands.
#pragma once

#include <atomic>
#include <cstdint>

#include <qx/framework/app/Messages.h>
#include <qx/framework/core/Classes.h>
#include <qx/framework/core/ComObj.h>
#include <qx/framework/ui/ComCtrls.h>
#include <qx/platform/audio/mmdevapi.h>
#include <qx/udp_link/QxUDPS.h>

class TQxMasterVol;

// Sender, MasterVolume (percent), Mute.
using TOnAudioChange = TMethod<TObject*, int32_t, bool>;

// The message the endpoint callback posts to the hidden window; WParam carries the new percent.
constexpr UINT WM_QXVOLUME_NOTIFY = 1713;

// The hidden window that endpoint notifications are posted to: the most recently constructed
// component's that is still alive, or none. Read on the notification thread.
extern std::atomic<HWND> AFWindow;

// Registered with the endpoint; runs on the endpoint's notification thread, where it only stores
// the new level in Fvol and posts it with WM_QXVOLUME_NOTIFY to AFWindow.
class TMyEndpointVolumeCallback : public TInterfacedObjectOf<IAudioEndpointVolumeCallback> {
 public:
  HRESULT OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA pNotify) override;

  TQxMasterVol* MasterVol = nullptr;  // not used: the component is reached through AFWindow
};

class TQxMasterVol : public TComponent {
  QX_CLASS(TQxMasterVol)
  explicit TQxMasterVol(TComponent* AOwner);

 protected:
  ~TQxMasterVol() override;

 public:
  void BeforeDestruction() override;

  // Applies the current Volume.
  void SetVolume();
  // Stores Value (at most 100) in Volume and applies it. Below 0 the system gets 0.
  void SetVolume(int32_t Value);
  void Mute(bool mt);
  bool GetMute();
  void VolumeUp();
  void VolumeDown();

  // Published properties.
  const String& WindowsVer() const { return FWindowsVer; }
  int32_t Volume() const { return FVolume; }
  // Only stores the number; SetVolume() applies it.
  void SetFVolume(int32_t Value) { FVolume = Value; }
  const String& UdpAtCmdIn() const { return FUdpAtCmdIn; }
  void SetFUdpAtCmdIn(const String& Value) { FUdpAtCmdIn = Value; }
  const String& UdpAtCmdMute() const { return FUdpAtCmdMute; }
  void SetFUdpAtCmdMute(const String& Value) { FUdpAtCmdMute = Value; }
  const String& UdpAtCmdGetMute() const { return FUdpAtCmdGetMute; }
  void SetFUdpAtCmdGetMute(const String& Value) { FUdpAtCmdGetMute = Value; }
  const String& UdpAtCmdVolUp() const { return FUdpAtCmdVolUp; }
  void SetFUdpAtCmdVolUp(const String& Value) { FUdpAtCmdVolUp = Value; }
  const String& UdpAtCmdVolDown() const { return FUdpAtCmdVolDown; }
  void SetFUdpAtCmdVolDown(const String& Value) { FUdpAtCmdVolDown = Value; }
  const String& UdpRxPort() const { return FUdpRxPort; }
  const String& UdpTxPort() const { return FUdpTxPort; }
  const String& UdpRemoteIP() const { return FUdpRemoteIP; }
  void SetFUdpRemoteIP(const String& Value);
  TColor VolDotsColor() const { return FVolDotsColor; }
  TColor VolBarsColor() const { return FVolBarsColor; }
  TAlign ScreenVolAlign() const { return FScreenVolAlign; }
  bool ShowScreenVol() const { return FShowScreenVol; }
  TTrackBar* VolumeTrackBar() const { return FVolumeTrackBar; }
  TQxUDPS* QxUDPS() const { return FUdp; }
  const TOnAudioChange& OnAudioChange() const { return FOnAudioChange; }
  void SetFOnAudioChange(const TOnAudioChange& Value) { FOnAudioChange = Value; }
  const String& Version() const { return FVersion; }

  // Write methods of the published properties.
  void SetFUdpRxPort(const String& Value);
  void SetFUdpTxPort(const String& Value);
  void SetFVolDotsColor(TColor Value);
  void SetFVolBarsColor(TColor Value);
  void SetFScreenVolAlign(TAlign Value);
  void setFShowScreenVol(bool Value);
  void setFVolumeTrackBar(TTrackBar* Value);
  void setFUdp(TQxUDPS* Value);

 protected:
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // The system's volume in percent (0..100). A read that fails yields the last known Volume,
  // kept within 0..100.
  int32_t GetActualVolume();
  void MyOnVolumeTrackBar(TObject* Sender);
  // Shows the overlay with Volume and the mute state, moves the track bar, raises OnAudioChange.
  void ShowFrmVolume();
  virtual void DoOnMyAudioChangeNotify(TObject* Sender, int32_t MasterVolume, bool Mute);

  // The version name from the run-time version numbers.
  String GetWindowsVersion();
  // The speakers' volume through the legacy mixer; False when it could not be read.
  bool GetWinXPMasterVolume(uint16_t& value);
  // The mixer's result code (0 on success).
  uint32_t SetWinXPMasterVolume(uint16_t value);

  void WndProc(TMessage& Message);
  void DeallocateHWnd(HWND Wnd);

  void MyOnGetPacketUDP(TObject* Sender, String PacketUDP, String PacketUDPHex, String PeerIP,
                        String PeerPort, String& Response);
  void MyOnUDPStatus(TObject* Sender, bool Active, int32_t Error, String ErrorDesc);

  // For tests and tools built on the component.
  int32_t LastVol() const { return FLastVol; }
  bool EndpointOpen() const { return static_cast<bool>(FEndPointVolume); }
  HWND WindowHandle() const { return FWindow; }
  UINT MMChangeMessage() const { return FMMChange; }

 private:
  bool OpenEndpoint();
  bool LegacyPath() const;
  // One step of VolumeUp (+1) or VolumeDown (-1).
  void Step(int direction);
  // Gives the linked track bar its own handler back and forgets it.
  void UnhookTrackBar();
  // Moves the track bar without the move coming back as a change from the user.
  void MoveTrackBar(int32_t position);
  // Undoes what setFUdp installed on the linked UDP component (at destruction).
  void ReleaseUdpLink();

  TComponent* FParent = nullptr;
  int32_t FVolume = 0;
  int32_t FLastVol = 0;
  TComPtr<IAudioEndpointVolume> FEndPointVolume;
  TComPtr<IMMDeviceEnumerator> FDeviceEnumerator;
  TOnAudioChange FOnAudioChange;
  HWND FWindow = nullptr;
  TNotifyEvent FOnChange;
  UINT FMMChange = 0;
  String FWindowsVer;
  TQxUDPS* FUdp = nullptr;
  TOnGetPacketUDP FSavedUdpGetPacket;
  TOnUDPStatus FSavedUdpStatus;
  String FUdpAtCmdIn;
  String FUdpAtCmdMute;
  String FUdpAtCmdGetMute;
  String FUdpAtCmdVolUp;
  String FUdpAtCmdVolDown;
  String FUdpRemoteIP;
  String FUdpRxPort;
  String FUdpTxPort;
  TTrackBar* FVolumeTrackBar = nullptr;
  TNotifyEvent FSavedOnVolumeTrackBar;
  TColor FVolDotsColor = clWhite;
  TColor FVolBarsColor = clYellow;
  bool FShowScreenVol = false;
  TAlign FScreenVolAlign = alBottom;
  TComPtr<IAudioEndpointVolumeCallback> MyEndpointVolumeCallback;
  String FVersion;

  bool FMovingTrackBar = false;
};
