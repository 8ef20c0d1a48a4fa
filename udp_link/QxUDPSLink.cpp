#include <qx/udp_link/QxUDPSLink.h>

#include <qx/net/synachar.h>

bool TQxUDPSLink::Props(TQxUDPSLiveProps& props) {
  std::lock_guard<std::mutex> g(Lock);
  if (Owner == nullptr) return false;
  props = Owner->LiveProps();
  return true;
}

void TQxUDPSLink::Cut() {
  std::lock_guard<std::mutex> g(Lock);
  Owner = nullptr;
}

bool TQxUDPSExchange::Take(TPacketGatherer& gather, TUDPBlockSocket& sock,
                           const TQxUDPSLiveProps& props, int32_t readTimeout,
                           const std::atomic<bool>* stop) {
  gather.SetPreferred(props.PreferredAddr, props.Prefer.get());
  if (!gather.Gather(sock, props.LineEndRx, readTimeout, stop)) return false;
  const std::string_view data = gather.Packet();
  if (data.empty()) return false;
  // Converted here, so that the handler's call only trades buffers.
  Packet.Fill(data, gather.Sender(), props.UTF8);
  From = gather.Sender();
  if (props.LineEndRx.empty())
    Raw.assign(data);
  else
    Raw.clear();
  Props = props;
  Response.clear();
  return true;
}

void TQxUDPSExchange::SendResponse(TUDPBlockSocket& sock, bool rxLineEnd) const {
  if (Response.empty()) return;
  RawByteString R = StringToAnsi(Response);
  if (Props.UTF8) R = CharsetConversion(R, CP1250, UTF_8);
  if (R.empty()) return;
  sock.SetRemoteSin(From);
  sock.SendString(R + (rxLineEnd ? Props.LineEndRx : Props.LineEndTx));
}
