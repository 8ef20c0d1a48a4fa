#include "VolumeRemote.h"

#include <qx/framework/app/Application.h>

const char* const kGetVolumeQuery = "AT+GETVOL";

bool IsCommand(const String& text, const String& word) {
  return !word.empty() && text.compare(0, word.size(), word) == 0;
}

QX_DEFINE_CLASS(TVolumeRemote, TForm, [](TPropsBuilder<TVolumeRemote>& p) {
  p.Method("UdpGetPacket", &TVolumeRemote::UdpGetPacket);
  p.Method("UdpStatus", &TVolumeRemote::UdpStatus);
  p.Method("VolumeAudioChange", &TVolumeRemote::VolumeAudioChange);
})

void TVolumeRemote::UdpGetPacket(TObject*, String PacketUDP, String PacketUDPHex, String PeerIP,
                                 String PeerPort, String& Response) {
  if (Printer) Printer->Packet("packet", PacketUDP, PacketUDPHex, PeerIP, PeerPort);
  // The same peer test as the parser's: nothing is ever said to anyone else.
  if (Volume == nullptr || PeerIP != Volume->UdpRemoteIP()) return;
  if (IsCommand(PacketUDP, Volume->UdpAtCmdGetMute()))
    Response = Volume->GetMute() ? "MUTE=1" : "MUTE=0";
  else if (IsCommand(PacketUDP, kGetVolumeQuery))
    Response = "VOL=" + IntToStr(Volume->Volume());
}

void TVolumeRemote::UdpStatus(TObject*, bool Active, int32_t Error, String ErrorDesc) {
  if (Printer) Printer->Status(Active, Error, ErrorDesc);
  // A failed bind reports twice: once from the thread, once as it ends.
  if (Error > 0 && ++Failures == 2) Application->Terminate();
}

void TVolumeRemote::VolumeAudioChange(TObject*, int32_t MasterVolume, bool Mute) {
  if (Printer) Printer->Audio(MasterVolume, Mute);
  // The overlay asked for its repaint; the frame is composed when the loop comes round.
  if (OnOverlayFrame) Application->Queue([frame = OnOverlayFrame] { frame(); });
}

String TVolumeRemote::FindParts() {
  Volume = nullptr;
  Udp = nullptr;
  for (int i = 0; i < ComponentCount() && Volume == nullptr; ++i) {
    auto* v = dynamic_cast<TQxMasterVol*>(Components(i));
    if (v != nullptr && v->QxUDPS() != nullptr) Volume = v;
  }
  if (Volume == nullptr) return "the form has no TQxMasterVol linked to a TQxUDPS (QxUDPS = ...)";
  Udp = Volume->QxUDPS();
  return "";
}

void TVolumeRemote::HookEvents() {
  Volume->setFUdp(nullptr);
  Udp->SetFOnGetPacketUDP(TOnGetPacketUDP(this, &TVolumeRemote::UdpGetPacket));
  Udp->SetFOnUDPStatus(TOnUDPStatus(this, &TVolumeRemote::UdpStatus));
  Volume->setFUdp(Udp);
  Volume->SetFOnAudioChange(TOnAudioChange(this, &TVolumeRemote::VolumeAudioChange));
}
