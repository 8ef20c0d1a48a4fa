// The receive thread of an active UDP component, which also sends the component's queued
// datagrams from its socket, and the queue entry it sends.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include <qx/framework/core/Classes.h>
#include <qx/framework/threads/Threads.h>
#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketGatherer.h>
#include <qx/udp_link/QxUDPSLink.h>

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

// The receive thread of an active component: owns the server socket and the send queue. Every
// step runs on the thread but the packet event, which runs on the main thread inside one call
// for a run of packets.
class TUDPThread : public TThread {
 public:
  TUDPThread(bool Suspended, IQxUDPSOwner* Parent);

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
  // Main thread: cuts the thread off from its component, which has stopped waiting for it. It
  // ends at its next step, closes its own socket and frees itself.
  void Abandon() { FLink->Cut(); }
  // Main thread: the thread goes on for another component (TQxUDPS::TakeOverReceiveThread).
  void Rehome(IQxUDPSOwner* Parent) {
    std::lock_guard<std::mutex> g(FLink->Lock);
    FLink->Owner = Parent;
  }

  std::atomic<bool> F_STOP{false};
  String FUDPLocalHostIP;
  String FUDPLocalPort;

 protected:
  void Execute() override;

 private:
  // Asked of the kernel for the receive socket; it grants at most its rmem_max.
  static constexpr int RecvBufferBytes = 4 << 20;
  // Longest wait of an idle cycle; data, queued sends and the stop request end it at once.
  static constexpr int IdleWaitMs = 1000;
  // Packets one call to the main thread delivers at most, and the time after which it delivers
  // no further one.
  static constexpr size_t MaxRun = TPacketGatherer::MaxQueued;
  static constexpr std::chrono::microseconds MaxRunTime{1000};

  // Gathers the next packet into the run, and in datagram mode the ones already received too.
  // False when nothing was gathered.
  bool FillRun(const TQxUDPSLiveProps& props);
  bool ReceiveStep(const TThreadMethod& deliver);
  bool SendStep();
  // Drops the unfinished lines whose time is up and tells the component about every line dropped
  // so far, once a second at most, so that a flood of them costs the main thread little.
  bool ReportDroppedLines();
  // Synchronizes `method`; false when the component is gone.
  bool Synced(const TThreadMethod& method);
  // Main thread: delivers the run's next packets in order, cycle after cycle, as long as no
  // cycle has a send step to do, nothing asks the thread to stop, the properties that cut them
  // stay as they were, and the loop's other work has waited no longer than MaxRunTime.
  void DeliverRun();

  std::unique_ptr<TUDPBlockSocket> FUDPSrvSock;
  std::shared_ptr<TQxUDPSLink> FLink;
  TPacketGatherer FGather;
  // The packets gathered for the main thread; FRun[FDelivered..FRunSize) are still to deliver.
  std::vector<TQxUDPSExchange> FRun;
  size_t FRunSize = 0, FDelivered = 0;
  bool FRunCurrent = true;  // the properties did not change while the run was delivered
  String FUDPPeerIP;        // sender of the packet gathered last
  std::unique_ptr<TStringList> FUDPSendList;
  // Entries in FUDPSendList, so that an idle cycle need not take the process-wide lock.
  std::atomic<int> FQueued{0};
  std::chrono::steady_clock::time_point FNextDropReport{};
};
