// TQxMasterVol: the master-volume component. Reads, sets, steps and mutes the system's output
// volume (the sound server's endpoint, or the legacy mixer where the version name is "Windows
// XP"), follows changes made by any program, keeps a track bar in step, shows the on-screen
// overlay and raises OnAudioChange with what it shows; linked to a TQxUDPS it obeys AT commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <qx/framework/app/Messages.h>
#include <qx/framework/core/Classes.h>
#include <qx/framework/core/ComObj.h>
#include <qx/framework/ui/ComCtrls.h>
#include <qx/master_volume/SignedCommand.h>
#include <qx/platform/audio/mmdevapi.h>
#include <qx/platform/mixer/mmsystem.h>
#include <qx/udp_link/PeerAddress.h>
#include <qx/udp_link/QxUDPS.h>

class TQxMasterVol;

// Sender, MasterVolume (percent), Mute.
using TOnAudioChange = TMethod<TObject*, int32_t, bool>;

// What one command text asks for, by the component's command words.
enum class TQxUdpCommand { None, SetVolume, Mute, VolumeDown, VolumeUp, GetMute, GetVolume };
// Sender, the query (GetMute or GetVolume), Answer: the application's words for it, empty for no
// answer. The component itself never answers; it only sends on what the application says.
using TOnUdpQuery = TMethod<TObject*, TQxUdpCommand, String&>;
// Sender, Problem: one line about the key file or the counter file of signed commands.
using TOnUdpKeyProblem = TMethod<TObject*, String>;

// One command text of a packet, the command it is (None: no command) and the line end that
// followed it.
struct TQxUdpLine {
  String Text;
  TQxUdpCommand Command = TQxUdpCommand::None;
  String LineEnd;
  bool operator==(const TQxUdpLine&) const = default;
};
// Sender, PeerIP, FromPeer (the configured peer sent it; with a key, lines that prove it came),
// Lines: what the parser made of a packet, once per packet before the component acts on it, so
// that an application need not parse again. Only a packet from the peer is parsed; another
// sender's has no lines.
using TOnUdpCommand = TMethod<TObject*, String, bool, std::vector<TQxUdpLine>>;

// The message the endpoint callback posts to the hidden window; WParam carries the new percent.
constexpr UINT WM_QXVOLUME_NOTIFY = 1713;
// Posted to a component's hidden window when the device its AudioDevice names comes or goes.
constexpr UINT WM_QXDEVICE_CHANGE = 1714;

// Sender, the AudioDevice named, Present: whether it is there to steer now.
using TOnDeviceChange = TMethod<TObject*, String, bool>;

// The hidden window that endpoint notifications are posted to: the most recently constructed
// component's that is still alive, or none. Read on the notification thread.
extern std::atomic<HWND> AFWindow;

// Registered with the endpoint; runs on the endpoint's notification thread, where it only posts
// the new level with WM_QXVOLUME_NOTIFY to AFWindow.
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

  // The command a text is, by the command words tried in order (set volume, mute, down, up, then
  // the queries get mute and get volume): the first word the text begins with decides. A text
  // shorter than a word matches only when it equals it; an empty query word is no query.
  TQxUdpCommand MatchUdpCommand(const String& text) const;
  // The command texts of a packet: the packet itself, or with UdpAtEachLine its non-empty lines.
  std::vector<String> UdpCommandTexts(const String& PacketUDP) const;
  // The same, each with the line end that followed it (CR LF, CR, LF, or none for the last line
  // of a packet and for a whole packet): a query's answer ends with it.
  std::vector<TQxUdpLine> UdpCommandLines(const String& PacketUDP) const;
  // Whether a packet from PeerIP is obeyed: PeerIP is UdpRemoteIP, character for character, or
  // UdpRemoteIP is empty and lines must be signed (then the key, not the address, tells the
  // peer); and PeerIP names one host (a datagram from 0.0.0.0 is nobody's, whatever UdpRemoteIP
  // holds).
  bool IsUdpPeer(const String& PeerIP) const {
    return (PeerIP == FUdpRemoteIP || (FUdpRemoteIP.empty() && FUdpKeyWanted)) &&
           !IsNoHostIPv4(PeerIP);
  }
  // Signed commands (SignedCommand.h). With a key, a line is obeyed only when signed by it with a
  // counter above every one accepted before; every other line is dropped unanswered, and an
  // answer is signed with its question's counter. The key comes from UdpKeyFile, read when the
  // component is loaded or the property is written at run time, or from the program itself; it is
  // never stored with the form. A key file that cannot be read leaves every line dropped.
  void SetUdpKey(const TQxCommandKey& Key);
  void ClearUdpKey();
  bool UdpKeySet() const { return FUdpKeyWanted; }
  // Lines dropped by the key check so far.
  uint64_t UdpSignedDropped() const { return FUdpSignedDropped; }
  // The last problem said through OnUdpKeyProblem (empty: none).
  const String& UdpKeyProblem() const { return FUdpKeyProblem; }

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
  const String& UdpAtCmdGetVol() const { return FUdpAtCmdGetVol; }
  void SetFUdpAtCmdGetVol(const String& Value) { FUdpAtCmdGetVol = Value; }
  // False: the whole packet is one command. True: every non-empty line of it (cut at CR and LF)
  // is one, obeyed in order, so that lines that arrive together are all obeyed.
  bool UdpAtEachLine() const { return FUdpAtEachLine; }
  void SetFUdpAtEachLine(bool Value) { FUdpAtEachLine = Value; }
  const TOnUdpQuery& OnUdpQuery() const { return FOnUdpQuery; }
  void SetFOnUdpQuery(const TOnUdpQuery& Value) { FOnUdpQuery = Value; }
  // The key file of signed commands; empty: none.
  const String& UdpKeyFile() const { return FUdpKeyFile; }
  void SetFUdpKeyFile(const String& Value);
  // Where the last accepted counter is kept; empty: DefaultCounterFile (under $XDG_STATE_HOME).
  const String& UdpCounterFile() const { return FUdpCounterFile; }
  void SetFUdpCounterFile(const String& Value);
  const TOnUdpKeyProblem& OnUdpKeyProblem() const { return FOnUdpKeyProblem; }
  void SetFOnUdpKeyProblem(const TOnUdpKeyProblem& Value) { FOnUdpKeyProblem = Value; }
  const TOnUdpCommand& OnUdpCommand() const { return FOnUdpCommand; }
  void SetFOnUdpCommand(const TOnUdpCommand& Value) { FOnUdpCommand = Value; }
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
  // The device steered: empty for the default output (followed when it changes); on the sound
  // server a sink's or a source's name, or "@DEFAULT_SOURCE@"; on the legacy mixer path
  // "DEVICE/CONTROL" (see SetFAudioDevice in QxMasterVolDevice.cpp). A named device that is not
  // there is not steered: calls change nothing until it appears, and OnDeviceChange says so.
  const String& AudioDevice() const { return FAudioDevice; }
  void SetFAudioDevice(const String& Value);
  const TOnDeviceChange& OnDeviceChange() const { return FOnDeviceChange; }
  void SetFOnDeviceChange(const TOnDeviceChange& Value) { FOnDeviceChange = Value; }
  // Whether the device steered is there now (always true for the default output).
  bool DevicePresent() const { return FAudioDevice.empty() || FDevicePresent; }
  // Whether the device steered records (a microphone) rather than plays.
  bool CaptureDevice();

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
  virtual void DoDeviceChange(const String& Device, bool Present);

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

  // The legacy mixer path, the version name being "Windows XP": on Linux, the ALSA mixer (the
  // run-time version 5.1, taken when no sound server answers or --audio alsa asks for it).
  bool LegacyPath() const;

  // For tests and tools built on the component.
  int32_t LastVol() const { return FLastVol; }
  bool EndpointOpen() const { return static_cast<bool>(FEndPointVolume); }
  HWND WindowHandle() const { return FWindow; }
  UINT MMChangeMessage() const { return FMMChange; }

 private:
  bool OpenEndpoint();
  // The volume interface of a device: activated and registered for change notifications.
  bool ActivateEndpoint(IMMDevice* device);
  // Unregisters and drops the volume interface.
  void ReleaseEndpoint();
  // The named device's side (QxMasterVolDevice.cpp): opening it, watching it come and go.
  bool OpenNamedEndpoint();
  void BindDevice();
  void WatchDevice();
  void UnwatchDevice();
  bool DevicePresentNow();
  // The device came or went (its notification, or the mixer's change message).
  void DeviceChanged();
  // Opens FMixerWatch; the legacy path's counterpart of the endpoint's change registration.
  void WatchMixer();
  // One step of VolumeUp (+1) or VolumeDown (-1).
  void Step(int direction);
  // Gives the linked track bar its own handler back and forgets it.
  void UnhookTrackBar();
  // Moves the track bar without the move coming back as a change from the user.
  void MoveTrackBar(int32_t position);
  // Undoes what setFUdp installed on the linked UDP component (at destruction).
  void ReleaseUdpLink();
  // Obeys one command text from the peer; a query's answer is added to Response. False when the
  // component was freed or unlinked by a handler it called.
  bool ObeyUdpCommand(const TQxUdpLine& line, String& Response);
  // The signed part (QxMasterVolSigned.cpp): obeys the packet's lines that the key accepts.
  void ObeySignedPacket(const String& PeerIP, const String& PacketUDP, String& Response);
  // The packet's lines that the key would accept now, without their signatures.
  std::vector<TQxUdpLine> SignedCommandLines(const String& PacketUDP) const;
  // Every non-empty line of a packet, cut at CR LF, CR and LF, with the line end that followed it.
  static std::vector<TQxUdpLine> CutUdpLines(const String& PacketUDP);
  // Gives the linked UDP component the check that lets signed lines go ahead (or takes it back).
  void InstallUdpPreference();
  void LoadUdpKeyFile();
  void SayUdpKeyProblem(const String& Problem);
  // An answer to the signed line being obeyed, signed with its counter.
  String SignedAnswer(const String& answer) const;

  // Where the volume lives, one owner per question:
  //   - FVolume: the component's volume (Volume, what OnAudioChange and the AT queries report);
  //     set by SetVolume, the steps, the track bar and each change notification;
  //   - the overlay's cells Fvol and FMute (frmVolumeU.h): what the overlay paints, written by
  //     its ShowLevel on the main thread only (the endpoint callback posts its level);
  //   - the endpoint's or the mixer's known state (platform/): what the system has, which
  //     GetActualVolume and GetMute read; the track bar only shows FVolume.
  // FLastVol is a trace of the last percent SetVolume applied, read by nothing.
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
  String FUdpAtCmdGetVol;
  bool FUdpAtEachLine = false;
  TOnUdpQuery FOnUdpQuery;
  TOnUdpCommand FOnUdpCommand;
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

  String FUdpKeyFile;
  String FUdpCounterFile;
  TOnUdpKeyProblem FOnUdpKeyProblem;
  bool FUdpKeyWanted = false;  // lines must be signed (even while no key could be read)
  std::unique_ptr<TSignedCommands> FSigned;
  std::shared_ptr<IQxUDPSPreference> FUdpPreference;  // the one installed on FUdp, if any
  uint64_t FUdpSignedDropped = 0;
  uint64_t FAnswerCounter = 0;  // the counter of the signed line being obeyed, 0: none
  String FUdpKeyProblem;
  // On the legacy path, a mixer handle whose change messages (MM_MIXM_CONTROL_CHANGE) come to
  // the hidden window, as the endpoint's notifications do.
  HMIXER FMixerWatch = nullptr;

  String FAudioDevice;
  TOnDeviceChange FOnDeviceChange;
  bool FDevicePresent = false;
  bool FDeviceDue = false;  // AudioDevice read while loading; bound in Loaded
  // The named device's watch (an IMMNotificationClient posting WM_QXDEVICE_CHANGE).
  TComPtr<IMMNotificationClient> FDeviceWatch;
  // The legacy mixer path's device: 0 for the first card, else the named one's identifier.
  UINT FMixerId = 0;
};
