// The one-shot send of a UDP component: a short-lived thread with its own socket.
#pragma once

#include <memory>

#include <qx/framework/threads/Threads.h>
#include <qx/udp_link/QxUDPSLink.h>

class TQxUDPS;

// One one-shot send: its own socket, the datagram, then the replies for as long as they come.
class TUDPClientThread : public TThread {
 public:
  TUDPClientThread(bool Suspended, TQxUDPS* Parent);

  String FRemoteIP;
  String FRemotePort;
  RawByteString FData;

 protected:
  void Execute() override;

 private:
  TQxUDPS* FQxUDPS;
  std::shared_ptr<TQxUDPSLink> FLink;
};

// Whether a one-shot send to this destination text permits broadcast: when it contains "255".
inline bool ClientSendWantsBroadcast(const String& destination) {
  return destination.find("255") != String::npos;
}
