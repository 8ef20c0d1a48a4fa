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
#include <qx/udp_link/QxUDPSOwner.h>

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
