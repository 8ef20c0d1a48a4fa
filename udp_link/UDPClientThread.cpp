#include <qx/udp_link/UDPClientThread.h>

#include <qx/net/synachar.h>

namespace {

// A one-shot send's socket has fixed time-outs of its own: UDPRxTimeout belongs to the receive
// socket, so a reply's pieces wait this long in every mode, and the wait for the next reply is
// a second.
constexpr int32_t ReplyReadMs = 5000;
constexpr int NextReplyMs = 1000;

}  // namespace

TUDPClientThread::TUDPClientThread(bool Suspended, std::shared_ptr<TQxUDPSLink> Link)
    : TThread(true), FLink(std::move(Link)) {
  FreeOnTerminate = true;
  ++FLink->Running;
  if (!Suspended) Start();
}

void TUDPClientThread::Execute() {
  struct Done {
    TQxUDPSLink& L;
    ~Done() { --L.Running; }
  } done{*FLink};
  TQxUDPSLiveProps props;
  if (!FLink->Props(props)) return;
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
  while (gather.Pending() || sock.CanRead(gather.Holding() ? ReplyReadMs : NextReplyMs)) {
    if (!FLink->Props(props)) return;
    if (!x.Take(gather, sock, props, ReplyReadMs, nullptr)) continue;
    Synchronize(deliver);
    if (!delivered) return;
    x.SendResponse(sock, /*rxLineEnd=*/false);
  }
}
