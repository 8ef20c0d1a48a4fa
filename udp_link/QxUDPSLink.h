// The one tie between the UDP component and its worker threads: what a worker asks of its
// component, and what travels between them.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketGatherer.h>
#include <qx/udp_link/PacketPreference.h>
#include <qx/udp_link/PacketText.h>

struct TQxUDPSExchange;

// The component's properties a worker goes by, taken at one moment.
struct TQxUDPSLiveProps {
  RawByteString LineEndRx, LineEndTx;  // as they go on the wire
  bool UTF8 = false;
  bool Broadcast = false;
  int32_t RxTimeout = 1;                      // UDPRxTimeout, at least 1
  uint32_t PreferredAddr = 0;                 // UDPPreferredIP, network order; 0: none
  std::shared_ptr<IQxUDPSPreference> Prefer;  // decides instead of PreferredAddr when set
  uint32_t Version = 0;                       // changes with every write of one of these properties
};

// What a worker needs of its component; the component implements it.
class IQxUDPSOwner {
 public:
  // Any thread, holding the link's lock: the properties for the worker's next step. Changes
  // nothing.
  virtual TQxUDPSLiveProps LiveProps() const = 0;
  // Main thread: the receive socket's bind outcome (0 and empty on success, with the port bound).
  virtual void BindResult(int32_t error, const String& errorDesc, int boundPort) = 0;
  // Main thread: raises the packet event for a packet (a one-shot send's reply when `reply`) and
  // leaves the handler's response in it. False when the properties changed meanwhile, so that
  // packets already cut by the old ones are not delivered as they are.
  virtual bool Deliver(TQxUDPSExchange& x, bool reply) = 0;
  // Main thread: unfinished lines the receive thread dropped (waitMs: how long a line could
  // wait for its end).
  virtual void LinesDropped(const std::vector<TPacketGatherer::TDroppedLine>& drops,
                            int32_t waitMs) = 0;

 protected:
  ~IQxUDPSOwner() = default;
};

// What a worker holds instead of the component itself. The component cuts its workers off
// (Cut, main thread) when it stops waiting for them or dies; a worker reaches the component only
// while holding Lock and seeing Owner set, or inside a call it synchronizes onto the main thread,
// which alone cuts the link. It holds no lock across such a call, so whatever the handler does
// cannot wait on the worker's lock.
struct TQxUDPSLink {
  std::mutex Lock;
  IQxUDPSOwner* Owner = nullptr;
  // One-shot sends started and not yet finished.
  std::atomic<int> Running{0};

  // Worker: the owner's properties into `props`; false once the link is cut.
  bool Props(TQxUDPSLiveProps& props);
  // Main thread.
  void Cut();
};

// A packet (or a one-shot send's reply) on its way to the handler and the response on its way
// back. The worker fills it and synchronizes a call that delivers it, then sends the response;
// while that call runs, the main thread owns the exchange.
struct TQxUDPSExchange {
  TPacketText Packet;
  sockaddr_in From{};
  std::string Raw;         // the packet's bytes as they came, in datagram mode only
  String Response;         // empty: none
  TQxUDPSLiveProps Props;  // the packet was cut by these, and the response goes by them

  // Worker, the one step of both threads: gathers the next packet from what the socket has
  // received and converts it for the handler. False when nothing, or nothing but an empty
  // packet, was gathered.
  bool Take(TPacketGatherer& gather, TUDPBlockSocket& sock, const TQxUDPSLiveProps& props,
            int32_t readTimeout, const std::atomic<bool>* stop);
  // Worker: sends the response, if any, to the packet's sender, ending in the receive or the
  // transmit line end.
  void SendResponse(TUDPBlockSocket& sock, bool rxLineEnd) const;
};
