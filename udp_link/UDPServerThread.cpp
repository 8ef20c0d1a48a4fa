#include <qx/udp_link/UDPServerThread.h>

// Created once for the process and never freed: an abandoned worker may still leave it after the
// library's static objects are gone.
TCriticalSection* csCriticalSection = new TCriticalSection();

TUDPThread::TUDPThread(bool Suspended, IQxUDPSOwner* Parent)
    : TThread(true),
      FUDPSrvSock(std::make_unique<TUDPBlockSocket>()),
      FLink(std::make_shared<TQxUDPSLink>()),
      FRun(MaxRun),
      FUDPSendList(std::make_unique<TStringList>(/*ownsObjects=*/true)) {
  FreeOnTerminate = true;
  FUDPSrvSock->SetTimeout(20000);
  FLink->Owner = Parent;
  F_STOP = false;
  if (!Suspended) Start();
}

TUDPThread::~TUDPThread() {
  // Entries still queued are discarded unsent; the socket closes with its object.
  csCriticalSection->Enter();
  FUDPSendList->Clear();
  csCriticalSection->Leave();
}

void TUDPThread::UdpSrvSendTo(const String& ip, const String& port, const String& data) {
  csCriticalSection->Enter();
  FUDPSendList->AddObject("", new TmyData(ip, port, data));
  ++FQueued;
  csCriticalSection->Leave();
  WakeUp();
}

void TUDPThread::ThrDelay(int32_t milliseconds) {
  TNamedSemaphore sem("UDPQxSrvThreadDelaySemaphore", 0, 1);
  if (!sem.Valid()) return;
  sem.Wait(milliseconds);
  sem.Release();
}

bool TUDPThread::Synced(const TThreadMethod& method) {
  Synchronize(method);
  std::lock_guard<std::mutex> g(FLink->Lock);
  return FLink->Owner != nullptr;
}

void TUDPThread::Execute() {
  TUDPBlockSocket& sock = *FUDPSrvSock;
  sock.CreateSocket();
  sock.Bind(FUDPLocalHostIP, FUDPLocalPort);
  sock.SetMulticastTTL(64);
  const int err = sock.LastError();
  // Room for bursts while a handler runs; the kernel may grant less.
  if (err == 0) sock.SetRecvBufferSize(RecvBufferBytes);
  // The outcome reaches the component on the main thread, which sets its own fields and raises
  // the status: until then UDPActive reads true there, as the assignment that started the thread
  // left it. Only the main thread cuts the link, so no lock is needed to look at it there.
  const TThreadMethod status =
      TThreadMethod::Callable([link = FLink, err, errnoValue = sock.LastErrno(),
                               desc = err == 0 ? String() : sock.LastErrorDesc(),
                               port = err == 0 ? sock.GetLocalSinPort() : 0] {
        if (link->Owner != nullptr) link->Owner->BindResult(err, errnoValue, desc, port);
      });
  // Built once: the hand-off of a run allocates nothing.
  const TThreadMethod deliver = TThreadMethod::Callable([this] { DeliverRun(); });
  if (!Synced(status) || err != 0) return;

  while (!Terminated()) {
    if (F_STOP) break;
    // Receive first; wait only when nothing is there and nothing is queued. Queued sends and
    // the stop request end the wait, so an idle thread wakes once a second at most.
    bool ready = FGather.Poll(sock);
    if (!ready && FQueued == 0 && sock.CanRead(IdleWaitMs)) ready = FGather.Poll(sock);
    if (ready && !ReceiveStep(deliver)) break;
    if (!SendStep()) break;
    if (!ReportDroppedLines()) break;
  }
  FGather.Reset();
  sock.CloseSocket();
}

bool TUDPThread::FillRun(const TQxUDPSLiveProps& props) {
  // Every datagram is a packet of its own in datagram mode, so the ones already received need
  // no waiting to be gathered: one call to the main thread delivers them all, which spares two
  // thread wake-ups per packet, what limits a flood's rate. A line may be joined with what
  // comes within the join window, so lines go one at a time.
  const size_t most = props.LineEndRx.empty() ? MaxRun : 1;
  FRunSize = FDelivered = 0;
  for (size_t tries = 0; tries < most && !F_STOP; ++tries) {
    if (FRunSize > 0 && !FGather.Pending()) break;
    if (FRun[FRunSize].Take(FGather, *FUDPSrvSock, props, props.RxTimeout, &F_STOP))
      FUDPPeerIP = FRun[FRunSize++].Packet.PeerIP;
    else if (!FGather.Pending())
      break;
  }
  return FRunSize > 0;
}

bool TUDPThread::ReceiveStep(const TThreadMethod& deliver) {
  TQxUDPSLiveProps props;
  if (!FLink->Props(props)) return false;
  if (!FillRun(props)) return true;
  for (;;) {
    const size_t from = FDelivered;
    if (!Synced(deliver)) return false;
    for (size_t i = from; i < FDelivered; ++i) FRun[i].SendResponse(*FUDPSrvSock, /*rx=*/true);
    // What is left of the run when the thread is asked to stop is never delivered.
    if (FDelivered == FRunSize || F_STOP) return true;
    // The run stopped short: the send step of the cycle delivered last comes first.
    if (!SendStep()) return false;
    TQxUDPSLiveProps now;
    if (!FLink->Props(now)) return false;
    if (!FRunCurrent || now.Version != props.Version) {
      // Cut by properties that are no longer the component's: gathered again by the new ones.
      for (size_t i = FRunSize; i-- > FDelivered;) FGather.Requeue(FRun[i].Raw, FRun[i].From);
      return true;
    }
  }
}

void TUDPThread::DeliverRun() {
  // Main thread. Each cycle is the thread's own, in its order: the packet, then (on the thread,
  // after this call) its response and the send step, then the stop check and the properties of
  // the next. So the run stops before a cycle whose send step has work, when the thread is asked
  // to stop, and when a handler changed how packets are cut; slow handlers end it early too, so
  // that the loop's other work (painting, timers) waits for about a millisecond at most.
  const auto until = std::chrono::steady_clock::now() + MaxRunTime;
  do {
    IQxUDPSOwner* owner = FLink->Owner;
    if (owner == nullptr) return;
    FRunCurrent = owner->Deliver(FRun[FDelivered++], /*reply=*/false);
  } while (FRunCurrent && FDelivered < FRunSize && FQueued == 0 && !F_STOP &&
           std::chrono::steady_clock::now() < until);
}

bool TUDPThread::ReportDroppedLines() {
  FGather.ExpireLines();
  const auto now = std::chrono::steady_clock::now();
  if (!FGather.HasDroppedLines() || now < FNextDropReport) return true;
  FNextDropReport = now + std::chrono::seconds(1);
  return Synced(TThreadMethod::Callable(
      [link = FLink, drops = FGather.TakeDroppedLines(), waitMs = FGather.LineWaitMs()] {
        if (link->Owner != nullptr) link->Owner->LinesDropped(drops, waitMs);
      }));
}

bool TUDPThread::SendStep() {
  if (FQueued == 0) return true;
  String ip, port, data;
  csCriticalSection->Enter();
  const bool have = FUDPSendList->Count() > 0;
  if (have) {
    auto* d = static_cast<TmyData*>(FUDPSendList->Objects(0));
    ip = d->Mip;
    port = d->mPort;
    data = d->Mstr;
  }
  csCriticalSection->Leave();
  if (!have) return true;

  TQxUDPSLiveProps props;
  if (!FLink->Props(props)) return false;
  TUDPBlockSocket& sock = *FUDPSrvSock;
  sock.EnableBroadcast(props.Broadcast);
  sock.Connect(ip, port);
  RawByteString D = StringToAnsi(data);
  if (sock.LastError() == 0 && !D.empty()) sock.SendString(D + props.LineEndTx);

  csCriticalSection->Enter();
  FUDPSendList->Delete(0);
  --FQueued;
  csCriticalSection->Leave();
  return true;
}
