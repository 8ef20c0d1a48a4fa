#include <qx/udp_link/UDPClientThread.h>

#include <qx/net/synachar.h>
#include <qx/udp_link/QxUDPS.h>

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
  TQxUDPSExchange x;
  bool delivered = false;
  // Filling the reply slots, raising the event and taking the response are one call on the main
  // thread, so concurrent sends of the component never mix their replies.
  const TThreadMethod deliver = TThreadMethod::Callable([link = FLink, &x, &delivered] {
    delivered = link->Owner != nullptr;
    if (delivered) link->Owner->Deliver(x, /*reply=*/true);
  });
  // A reply whose line has begun may take as long as a read of it would wait for its end.
  while (gather.Pending() || sock.CanRead(gather.Holding() ? 5000 : 1000)) {
    if (!refresh()) return;
    if (!gather.Gather(sock, props.LineEndRx, 5000, nullptr) || gather.Packet().empty()) continue;
    const sockaddr_in from = gather.Sender();
    x.Packet.Fill(gather.Packet(), from, props.UTF8);
    Synchronize(deliver);
    if (!delivered) return;
    x.SendResponse(sock, from, /*rxLineEnd=*/false);
  }
}
