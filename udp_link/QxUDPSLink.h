// The tie between the UDP component and its worker threads.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketText.h>

class TQxUDPS;

// What a worker thread holds instead of the component itself. The component cuts its workers
// off by clearing Owner (under Lock) when it stops waiting for them or dies; a worker touches the
// component only while holding Lock and seeing Owner set, so it can never reach a dead component.
// Everything else a worker needs of the component (a packet's slots, the handler, its response)
// happens inside a call it synchronizes onto the main thread, which alone clears Owner; it holds
// no lock across such a call, so whatever the handler does cannot wait on the worker's lock.
struct TQxUDPSLink {
  std::mutex Lock;
  TQxUDPS* Owner = nullptr;
  // One-shot sends started and not yet finished.
  std::atomic<int> Running{0};
};

// The component's properties a worker goes by, taken at one moment (TQxUDPS::LiveProps).
struct TQxUDPSLiveProps {
  RawByteString LineEndRx, LineEndTx;
  bool UTF8 = false;
  bool Broadcast = false;
  int32_t RxTimeout = 1;
  uint32_t PreferredAddr = 0;  // UDPPreferredIP, network order; 0: none
};

// A packet (or a one-shot send's reply) on its way to the handler and the response on its way
// back. The worker fills Packet and synchronizes a call to TQxUDPS::Deliver, then sends the
// response; while that call runs, the main thread owns the exchange.
struct TQxUDPSExchange {
  TPacketText Packet;
  String Response;         // empty: none
  TQxUDPSLiveProps Props;  // to send the response with; taken only with one
  // Worker: sends the response, if any, to `to`, ending in the receive or the transmit line end.
  void SendResponse(TUDPBlockSocket& sock, const sockaddr_in& to, bool rxLineEnd) const;
};
