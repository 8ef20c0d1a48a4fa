// What the UDP component offers its worker threads: the properties they go by, and the calls
// they make on the main thread. Kept apart from the link itself so that the component's header
// needs nothing of the workers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <qx/framework/core/System.h>
#include <qx/udp_link/PacketGatherer.h>
#include <qx/udp_link/PacketPreference.h>

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
  // Main thread: the receive socket's bind outcome (0 and empty on success, with the port bound),
  // with the errno the code was made from (0: none).
  virtual void BindResult(int32_t error, int errnoValue, const String& errorDesc,
                          int boundPort) = 0;
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
