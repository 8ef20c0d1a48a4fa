// What a user of the UDP component can tell its receive thread: which datagrams go ahead of the
// others when more arrive than the thread can take. By default that is the preferred sender's
// address; an address is easily forged, so a user that can check something a forger cannot make
// (a signature) gives this instead, and then it alone decides.
#pragma once

#include <netinet/in.h>

#include <string_view>

class IQxUDPSPreference {
 public:
  virtual ~IQxUDPSPreference() = default;
  // Whether a datagram just received goes ahead. Called on the component's worker threads,
  // possibly on two at once, for every datagram while senders compete: it must be cheap, and it
  // must not block.
  virtual bool Prefer(std::string_view datagram, const sockaddr_in& from) = 0;
};
