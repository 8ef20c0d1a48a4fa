// The link to a TQxUDPS: the QxUDPS, peer and port write methods and the two handlers the
// component installs on the linked UDP component (AT commands from the configured peer, and the
// network badge of the overlay). The configured peer is the UDP component's preferred sender, so
// that a crowd of strangers cannot crowd its commands out.
//
// The link keeps one rule: a handler this component installs never outlives it, and the handler
// it saves is never its own. So unlinking (writing none, relinking, destruction) gives the UDP
// component its saved handlers back, and writing the same UDP component again saves nothing new.
#include <algorithm>
#include <vector>

#include <qx/master_volume/QxMasterVol.h>
#include <qx/master_volume/frmVolumeU.h>

namespace {

// Components whose handlers are installed on a UDP component, so that one leaving the middle of
// a chain (two volume components on one UDP component) can hand its saved handler on to the one
// that saved it. Main thread only.
std::vector<TQxMasterVol*>& Installed() {
  static std::vector<TQxMasterVol*> list;
  return list;
}

bool IsInstalled(const TQxMasterVol* v) {
  const auto& l = Installed();
  return std::find(l.begin(), l.end(), v) != l.end();
}

// The parser's matching rule: the first N characters of the text equal the word, N being the
// word's length; a shorter text matches only when it equals the word.
bool StartsWithCommand(const String& text, const String& word) {
  return text.compare(0, word.size(), word) == 0;
}

}  // namespace

void TQxMasterVol::setFUdp(TQxUDPS* Value) {
  if (Value != FUdp) ReleaseUdpLink();
  FUdp = Value;
  if (Value == nullptr) return;
  Value->FreeNotification(this);
  if (IsDesigning()) return;
  const TOnGetPacketUDP myPacket(this, &TQxMasterVol::MyOnGetPacketUDP);
  const TOnUDPStatus myStatus(this, &TQxMasterVol::MyOnUDPStatus);
  // Already installed (the same component written again): the saved handlers stay.
  if (!(Value->OnGetPacketUDP() == myPacket)) {
    FSavedUdpGetPacket = Value->OnGetPacketUDP();
    Value->SetFOnGetPacketUDP(myPacket);
  }
  if (!(Value->OnUDPStatus() == myStatus)) {
    FSavedUdpStatus = Value->OnUDPStatus();
    Value->SetFOnUDPStatus(myStatus);
  }
  if (!IsInstalled(this)) Installed().push_back(this);
  Value->SetFUDPPreferredIP(FUdpRemoteIP);
}

void TQxMasterVol::ReleaseUdpLink() {
  auto& list = Installed();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  TQxUDPS* udp = FUdp;
  if (udp == nullptr) return;
  const TOnGetPacketUDP myPacket(this, &TQxMasterVol::MyOnGetPacketUDP);
  const TOnUDPStatus myStatus(this, &TQxMasterVol::MyOnUDPStatus);
  if (udp->OnGetPacketUDP() == myPacket) udp->SetFOnGetPacketUDP(FSavedUdpGetPacket);
  if (udp->OnUDPStatus() == myStatus) udp->SetFOnUDPStatus(FSavedUdpStatus);
  // Another volume component linked later saved these handlers: it calls the ones saved here.
  for (TQxMasterVol* other : list) {
    if (other->FUdp != udp) continue;
    if (other->FSavedUdpGetPacket == myPacket) other->FSavedUdpGetPacket = FSavedUdpGetPacket;
    if (other->FSavedUdpStatus == myStatus) other->FSavedUdpStatus = FSavedUdpStatus;
  }
  FSavedUdpGetPacket = TOnGetPacketUDP();
  FSavedUdpStatus = TOnUDPStatus();
  if (!IsDesigning() && udp->UDPPreferredIP() == FUdpRemoteIP) udp->SetFUDPPreferredIP("");
  RemoveFreeNotification(udp);
  FUdp = nullptr;
}

void TQxMasterVol::MyOnGetPacketUDP(TObject*, String PacketUDP, String PacketUDPHex, String PeerIP,
                                    String PeerPort, String& Response) {
  if (FSavedUdpGetPacket.Assigned()) {
    FSavedUdpGetPacket(this, PacketUDP, PacketUDPHex, PeerIP, PeerPort, Response);
    // The application's handler may have freed this component or unlinked it.
    if (!IsInstalled(this)) return;
  }
  if (PeerIP != FUdpRemoteIP) return;
  if (StartsWithCommand(PacketUDP, FUdpAtCmdIn)) {
    const int32_t value = StrToIntDef(PacketUDP.substr(FUdpAtCmdIn.size()), -1);
    if (value >= 0) SetVolume(value);
  } else if (StartsWithCommand(PacketUDP, FUdpAtCmdMute)) {
    Mute(!GetMute());
  } else if (StartsWithCommand(PacketUDP, FUdpAtCmdVolDown)) {
    VolumeDown();
  } else if (StartsWithCommand(PacketUDP, FUdpAtCmdVolUp)) {
    VolumeUp();
  }
}

void TQxMasterVol::MyOnUDPStatus(TObject*, bool Active, int32_t Error, String ErrorDesc) {
  if (FSavedUdpStatus.Assigned()) {
    FSavedUdpStatus(this, Active, Error, ErrorDesc);
    if (!IsInstalled(this)) return;
  }
  if (Error > 0 || frmVolume == nullptr || !FShowScreenVol || FUdp == nullptr) return;
  // The component's state, not the event's argument, decides the badge.
  if (frmVolume->imgWiFi != nullptr) frmVolume->imgWiFi->SetVisible(FUdp->UDPActive());
  ShowFrmVolume();
}

void TQxMasterVol::SetFUdpRxPort(const String& Value) {
  FUdpRxPort = Value;
  if (FUdp != nullptr) FUdp->SetFUDPRxPort(Value);
}

void TQxMasterVol::SetFUdpTxPort(const String& Value) {
  FUdpTxPort = Value;
  if (FUdp != nullptr) FUdp->SetFUDPTxPort(Value);
}

void TQxMasterVol::SetFUdpRemoteIP(const String& Value) {
  FUdpRemoteIP = Value;
  if (FUdp != nullptr && !IsDesigning()) FUdp->SetFUDPPreferredIP(Value);
}
