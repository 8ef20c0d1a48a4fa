#include "udp_link/UDPClientThread.h"

#include "net/SockAddr.h"
#include "net/synachar.h"
#include "udp_link/QxUDPS.h"

TUDPClientThread::TUDPClientThread(bool Suspended, TQxUDPS* Parent)
    : TThread(true), FQxUDPS(Parent), FLink(Parent->FClientLink) {
  FreeOnTerminate = true;
  ++FLink->Running;
  if (!Suspended) Start();
}

void TUDPClientThread::Execute() {
  struct Done {
    TQxUDPSLink& L;
    ~Done() { --L.Running; }
  } done{*FLink};
  TQxUDPS::TLiveProps props;
  auto refresh = [&]() {
    std::lock_guard<std::mutex> g(FLink->Lock);
    if (FLink->Owner == nullptr) return false;
    props = FLink->Owner->LiveProps();
    return true;
  };
  if (!refresh()) return;
  RawByteString payload = props.UTF8 ? CharsetConversion(FData, CP1250, UTF_8) : FData;

  TUDPBlockSocket sock;
  sock.CreateSocket();
  sock.Bind("0.0.0.0", "0");
  sock.SetTimeout(20000);
  sock.SetMulticastTTL(64);
  sock.EnableBroadcast(ClientSendWantsBroadcast(FRemoteIP));
  sock.Connect(FRemoteIP, FRemotePort);
  if (sock.LastError() != 0 || payload.empty()) return;
  sock.SendString(payload + props.LineEndTx);

  TPacketGatherer gather;
  while (gather.Pending() || sock.CanRead(1000)) {
    if (!refresh()) return;
    if (!gather.Gather(sock, props.LineEndRx, 5000, nullptr) || gather.Packet().empty()) continue;
    RawByteString reply = RawByteString::FromBytes(gather.Packet());
    const sockaddr_in from = gather.Sender();
    String hex = HexForm(reply);
    if (props.UTF8) reply = CharsetConversion(reply, UTF_8, CP1250);

    RawByteString R;
    {
      // Filling the slots, raising the event and taking the response are one step per reply, so
      // concurrent sends of the component never mix their replies.
      std::lock_guard<std::mutex> one(FLink->ReplyLock);
      {
        std::lock_guard<std::mutex> g(FLink->Lock);
        TQxUDPS* c = FLink->Owner;
        if (c == nullptr) return;
        c->FCLPacketUDP = AnsiToString(reply);
        c->FCLPacketUDPHex = std::move(hex);
        c->FCLPeerIP = SinIP(from);
        c->FCLPeerPort = IntToStr(ntohs(from.sin_port));
      }
      auto link = FLink;
      Synchronize(TThreadMethod::Callable([link] {
        if (link->Owner != nullptr) link->Owner->DoClientPacketUDP();
      }));
      std::lock_guard<std::mutex> g(FLink->Lock);
      TQxUDPS* c = FLink->Owner;
      if (c == nullptr) return;
      R = StringToAnsi(c->FCLUdpResponse);
      c->FCLUdpResponse.clear();
      props = c->LiveProps();
    }
    if (props.UTF8) R = CharsetConversion(R, CP1250, UTF_8);
    if (!R.empty()) {
      sock.SetRemoteSin(from);
      sock.SendString(R + props.LineEndTx);
    }
  }
}
