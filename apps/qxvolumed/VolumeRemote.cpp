#include "VolumeRemote.h"

#include <algorithm>
#include <chrono>

#include <qx/framework/app/Application.h>

namespace {

// Senders whose ignored packets are counted one by one; a flood from more addresses is summed up
// under one line, so that the table stays small whatever a neighbour sends.
constexpr size_t kIgnoredSenders = 64;
constexpr auto kIgnoredPeriod = std::chrono::milliseconds(1000);

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

QX_DEFINE_CLASS(TVolumeRemote, TForm, [](TPropsBuilder<TVolumeRemote>& p) {
  p.Method("UdpGetPacket", &TVolumeRemote::UdpGetPacket);
  p.Method("UdpStatus", &TVolumeRemote::UdpStatus);
  p.Method("VolumeAudioChange", &TVolumeRemote::VolumeAudioChange);
})

TVolumeRemote::~TVolumeRemote() {
  if (FIgnoredTimer != 0) Application->CancelTimer(FIgnoredTimer);
}

void TVolumeRemote::UdpGetPacket(TObject*, String PacketUDP, String PacketUDPHex, String PeerIP,
                                 String PeerPort, String&) {
  // Printed or counted once the volume component has parsed it (VolumeUdpCommand), which
  // follows at once for every packet.
  FPacket = {std::move(PacketUDP), std::move(PacketUDPHex), std::move(PeerIP), std::move(PeerPort)};
}

void TVolumeRemote::VolumeUdpCommand(TObject*, String, bool, std::vector<TQxUdpLine> Lines) {
  if (Printer == nullptr) return;
  const bool command = std::any_of(Lines.begin(), Lines.end(), [](const TQxUdpLine& l) {
    return l.Command != TQxUdpCommand::None;
  });
  if (command || Verbose)
    Printer->Packet("packet", FPacket.Text, FPacket.Hex, FPacket.PeerIP, FPacket.PeerPort);
  else
    Ignore(FPacket.PeerIP, FPacket.Text.size());
}

void TVolumeRemote::Ignore(const String& peer, size_t bytes) {
  auto it = FIgnored.find(peer);
  if (it == FIgnored.end())
    it = FIgnored.size() < kIgnoredSenders ? FIgnored.emplace(peer, TIgnored()).first
                                           : FIgnored.emplace("other senders", TIgnored()).first;
  ++it->second.Packets;
  it->second.Bytes += bytes;
  if (FIgnoredTimer == 0) {
    FIgnoredSince = NowMs();
    FIgnoredTimer = Application->StartTimer(kIgnoredPeriod, [this] {
      FIgnoredTimer = 0;
      ReportIgnored();
    });
  }
}

void TVolumeRemote::ReportIgnored() {
  const double seconds = (NowMs() - FIgnoredSince) / 1000.0;
  for (const auto& [peer, n] : FIgnored)
    if (Printer) Printer->Ignored(peer, n.Packets, n.Bytes, seconds);
  FIgnored.clear();
}

void TVolumeRemote::UdpStatus(TObject*, bool Active, int32_t Error, String ErrorDesc) {
  if (Error > 0) {
    // Said once: the thread that could not bind reports again as it ends.
    if (!BindFailed && OnBindFailure) OnBindFailure(Error, ErrorDesc);
    BindFailed = true;
    return;
  }
  if (Printer && !BindFailed)
    Printer->Status(Active, Error, ErrorDesc, Udp->UDPLocalIP(), Udp->BoundPort());
}

void TVolumeRemote::VolumeAudioChange(TObject*, int32_t MasterVolume, bool Mute) {
  if (Printer) Printer->Audio(MasterVolume, Mute);
  if (AudioListeners) (*AudioListeners)(MasterVolume, Mute);
  // The overlay asked for its repaint; the frame is composed when the loop comes round.
  if (OnOverlayFrame) Application->Queue([frame = OnOverlayFrame] { frame(); });
}

void TVolumeRemote::VolumeUdpQuery(TObject*, TQxUdpCommand Query, String& Answer) {
  if (Query == TQxUdpCommand::GetVolume) Answer = "VOL=" + IntToStr(Volume->Volume());
  if (Query == TQxUdpCommand::GetMute) Answer = Volume->GetMute() ? "MUTE=1" : "MUTE=0";
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

void TVolumeRemote::HookDevice() {
  if (Printer)
    Printer->Device(Volume->AudioDevice(), Volume->DevicePresent(), Volume->CaptureDevice());
  Volume->SetFOnDeviceChange(
      TOnDeviceChange::Callable([this](TObject*, const String& device, bool present) {
        if (Printer) Printer->Device(device, present, Volume->CaptureDevice());
      }));
}

void TVolumeRemote::HookEvents() {
  // Free callables, not the form's published methods: a printed form then names none of the
  // daemon's handlers and stays a plain form.
  Volume->setFUdp(nullptr);
  Udp->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
      [this](TObject* s, String text, String hex, String ip, String port, String& response) {
        UdpGetPacket(s, text, hex, ip, port, response);
      }));
  Udp->SetFOnUDPStatus(
      TOnUDPStatus::Callable([this](TObject* s, bool active, int32_t error, String desc) {
        UdpStatus(s, active, error, desc);
      }));
  Volume->setFUdp(Udp);
  Udp->SetFOnLineDropped(TOnLineDropped::Callable(
      [this](TObject*, String ip, String port, int32_t lines, int32_t bytes, String reason) {
        if (Printer) Printer->Dropped(ip, port, lines, bytes, reason);
      }));
  Volume->SetFOnAudioChange(TOnAudioChange::Callable(
      [this](TObject* s, int32_t volume, bool mute) { VolumeAudioChange(s, volume, mute); }));
  Volume->SetFOnUdpQuery(
      TOnUdpQuery::Callable([this](TObject* s, TQxUdpCommand query, String& answer) {
        VolumeUdpQuery(s, query, answer);
      }));
  Volume->SetFOnUdpCommand(TOnUdpCommand::Callable(
      [this](TObject* s, String peer, bool fromPeer, std::vector<TQxUdpLine> lines) {
        VolumeUdpCommand(s, std::move(peer), fromPeer, std::move(lines));
      }));
}
