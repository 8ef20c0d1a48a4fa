// The receive thread of an active UDP component, which also sends the component's queued
// datagrams from its socket, and the queue entry it sends.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include <qx/framework/core/Classes.h>
#include <qx/framework/threads/Threads.h>
#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketGatherer.h>
#include <qx/udp_link/QxUDPSLink.h>

class TQxUDPS;

// Guards the receive threads' send queues, for every component of the process.
extern TCriticalSection* csCriticalSection;

// One queued datagram of a receive thread.
class TmyData : public TObject {
 public:
  TmyData(const String& ip, const String& port, const String& data)
      : Mstr(data), Mip(ip), mPort(port) {}
  String Mstr;
  String Mip;
  String mPort;
};

// The receive thread of an active component: owns the server socket and the send queue.
class TUDPThread : public TThread {
 public:
  TUDPThread(bool Suspended, TQxUDPS* Parent);

 protected:
  ~TUDPThread() override;

 public:
  // Queues a datagram (data: one character per byte) and wakes the thread. Main thread.
  void UdpSrvSendTo(const String& ip, const String& port, const String& data);
  // Waits on the machine-wide semaphore "UDPQxSrvThreadDelaySemaphore" for at most the given
  // time, so that another caller releasing it ends the wait early.
  static void ThrDelay(int32_t milliseconds);
  // Ends the current idle wait early (any thread).
  void WakeUp() { FUDPSrvSock->WakeUp(); }
  // Ends every wait of the thread's socket, reads of unfinished lines included (any thread).
  void AbortWaits() { FUDPSrvSock->Abort(); }

  std::atomic<bool> F_STOP{false};
  String FUDPLocalHostIP;
  String FUDPLocalPort;

 protected:
  void Execute() override;

 private:
  friend class TQxUDPS;
  // Asked of the kernel for the receive socket; it grants at most its rmem_max.
  static constexpr int RecvBufferBytes = 4 << 20;
  // Longest wait of an idle cycle; data, queued sends and the stop request end it at once.
  static constexpr int IdleWaitMs = 1000;
  // Packets one call to the main thread delivers at most, and the time after which it delivers
  // no further one.
  static constexpr int MaxRun = TPacketGatherer::MaxQueued;
  static constexpr std::chrono::microseconds MaxRunTime{1000};

  // Gathers the next packet by the given properties and converts it for the handler. False when
  // nothing, or nothing but an empty packet, was gathered.
  bool GatherPacket(const TQxUDPSLiveProps& props);
  bool ReceiveStep(const TThreadMethod& packet);
  bool SendStep();
  bool Synced(const TThreadMethod& method);
  // Main thread, inside the packet's call: delivers the packet gathered, then, in datagram mode,
  // goes on with the cycles whose datagrams the thread has received already.
  void DeliverRun();
  // Sends the response of the packet delivered last, if any, to its sender (either thread, the
  // other one waiting).
  void Respond();

  std::unique_ptr<TUDPBlockSocket> FUDPSrvSock;
  TQxUDPS* FQxUDPS;
  std::shared_ptr<TQxUDPSLink> FLink;
  TPacketGatherer FGather;    // the packet being gathered
  TQxUDPSExchange FExchange;  // the packet gathered last, on its way to the handler and back
  String FUDPPeerIP;
  // The packet call may go on past the packet it was made for (datagram mode only).
  bool FRun = false;
  // The current cycle's response and send step are still to do (false once the packet call has
  // done them and stopped at the top of a later cycle).
  bool FCycleOpen = false;
  std::unique_ptr<TStringList> FUDPSendList;
  // Entries in FUDPSendList, so that an idle cycle need not take the process-wide lock.
  std::atomic<int> FQueued{0};
};
