// The one-shot send of a UDP component: a short-lived thread with its own socket.
#pragma once

#include <memory>

#include <qx/framework/threads/Threads.h>
#include <qx/udp_link/QxUDPSLink.h>

// One one-shot send: its own socket, the datagram, then the replies for as long as they come.
// Every step runs on the thread but the reply's event, which runs on the main thread.
class TUDPClientThread : public TThread {
 public:
  // `Link`: the component's tie with its one-shot sends, which it cuts when it dies.
  TUDPClientThread(bool Suspended, std::shared_ptr<TQxUDPSLink> Link);

  String FRemoteIP;
  String FRemotePort;
  RawByteString FData;

 protected:
  void Execute() override;

 private:
  std::shared_ptr<TQxUDPSLink> FLink;
};

// Whether a one-shot send to this destination text permits broadcast: when it contains "255".
inline bool ClientSendWantsBroadcast(const String& destination) {
  return destination.find("255") != String::npos;
}
