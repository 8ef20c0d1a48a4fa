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
  InstallUdpPreference();
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
  if (FUdpPreference && udp->Preference() == FUdpPreference) udp->SetPreference(nullptr);
  FUdpPreference.reset();
  RemoveFreeNotification(udp);
  FUdp = nullptr;
}

TQxUdpCommand TQxMasterVol::MatchUdpCommand(const String& text) const {
  if (StartsWithCommand(text, FUdpAtCmdIn)) return TQxUdpCommand::SetVolume;
  if (StartsWithCommand(text, FUdpAtCmdMute)) return TQxUdpCommand::Mute;
  if (StartsWithCommand(text, FUdpAtCmdVolDown)) return TQxUdpCommand::VolumeDown;
  if (StartsWithCommand(text, FUdpAtCmdVolUp)) return TQxUdpCommand::VolumeUp;
  // An empty query word would take every text that is no command for a question.
  if (!FUdpAtCmdGetMute.empty() && StartsWithCommand(text, FUdpAtCmdGetMute))
    return TQxUdpCommand::GetMute;
  if (!FUdpAtCmdGetVol.empty() && StartsWithCommand(text, FUdpAtCmdGetVol))
    return TQxUdpCommand::GetVolume;
  return TQxUdpCommand::None;
}

bool TQxMasterVol::ObeyUdpCommand(const TQxUdpLine& line, String& Response) {
  switch (line.Command) {
    case TQxUdpCommand::SetVolume: {
      const int32_t value = StrToIntDef(line.Text.substr(FUdpAtCmdIn.size()), -1);
      if (value >= 0) SetVolume(value);
      break;
    }
    case TQxUdpCommand::Mute:
      Mute(!GetMute());
      break;
    case TQxUdpCommand::VolumeDown:
      VolumeDown();
      break;
    case TQxUdpCommand::VolumeUp:
      VolumeUp();
      break;
    case TQxUdpCommand::GetMute:
    case TQxUdpCommand::GetVolume: {
      if (!FOnUdpQuery.Assigned()) break;
      String answer;
      FOnUdpQuery(this, line.Command, answer);
      if (!IsInstalled(this)) return false;
      if (answer.empty()) break;
      // Each answer ends as its question did, so a remote that sends bare datagrams gets bare
      // answers and one that sends lines gets lines; answers to several queries of one packet
      // share one datagram. What the application's handler put first is kept apart from them.
      if (!Response.empty() && Response.find_last_of("\r\n") != Response.size() - 1) {
        const String rx = FUdp->AnswerLineEnd();
        Response += !line.LineEnd.empty() ? line.LineEnd : !rx.empty() ? rx : String("\r\n");
      }
      Response += (FAnswerCounter != 0 ? SignedAnswer(answer) : answer) + line.LineEnd;
      break;
    }
    case TQxUdpCommand::None:
      break;
  }
  // A handler of the overlay's event may have freed or unlinked the component.
  return IsInstalled(this);
}

void TQxMasterVol::MyOnGetPacketUDP(TObject*, String PacketUDP, String PacketUDPHex, String PeerIP,
                                    String PeerPort, String& Response) {
  if (FSavedUdpGetPacket.Assigned()) {
    FSavedUdpGetPacket(this, PacketUDP, PacketUDPHex, PeerIP, PeerPort, Response);
    // The application's handler may have freed this component or unlinked it.
    if (!IsInstalled(this)) return;
  }
  bool fromPeer = IsUdpPeer(PeerIP);
  // With a key, the lines that prove it now (each is checked again when its turn comes).
  std::vector<TQxUdpLine> lines;
  if (fromPeer) lines = UdpCommandLines(PacketUDP);
  if (FUdpKeyWanted) fromPeer = !lines.empty();
  for (TQxUdpLine& line : lines) line.Command = MatchUdpCommand(line.Text);
  if (FOnUdpCommand.Assigned()) {
    FOnUdpCommand(this, PeerIP, fromPeer, lines);
    if (!IsInstalled(this)) return;
  }
  if (FUdpKeyWanted) return ObeySignedPacket(PeerIP, PacketUDP, Response);
  for (const TQxUdpLine& line : lines)
    if (!ObeyUdpCommand(line, Response)) return;
}

std::vector<TQxUdpLine> TQxMasterVol::UdpCommandLines(const String& PacketUDP) const {
  if (FUdpKeyWanted) return SignedCommandLines(PacketUDP);
  if (!FUdpAtEachLine) return {{PacketUDP}};
  return CutUdpLines(PacketUDP);
}

std::vector<TQxUdpLine> TQxMasterVol::CutUdpLines(const String& PacketUDP) {
  std::vector<TQxUdpLine> lines;
  for (size_t start = 0; start < PacketUDP.size();) {
    size_t end = PacketUDP.find_first_of("\r\n", start);
    if (end == String::npos) end = PacketUDP.size();
    // CR LF, CR or LF: an empty line between two ends is none of its own.
    size_t next = end;
    if (next < PacketUDP.size()) next += PacketUDP.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    if (end > start)
      lines.push_back({PacketUDP.substr(start, end - start), TQxUdpCommand::None,
                       PacketUDP.substr(end, next - end)});
    start = next;
  }
  return lines;
}

std::vector<String> TQxMasterVol::UdpCommandTexts(const String& PacketUDP) const {
  std::vector<String> texts;
  for (TQxUdpLine& line : UdpCommandLines(PacketUDP)) texts.push_back(std::move(line.Text));
  return texts;
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
  InstallUdpPreference();
}
