#include <qx/udp_link/UDPServerThread.h>

#include <qx/udp_link/QxUDPS.h>

// Created once for the process and never freed: an abandoned worker may still leave it after the
// library's static objects are gone.
TCriticalSection* csCriticalSection = new TCriticalSection();

TUDPThread::TUDPThread(bool Suspended, TQxUDPS* Parent)
    : TThread(true),
      FUDPSrvSock(std::make_unique<TUDPBlockSocket>()),
      FQxUDPS(Parent),
      FLink(std::make_shared<TQxUDPSLink>()),
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
  // The bind's outcome and UDPActive follow on the main thread, as the status is raised: until
  // then UDPActive reads true there, as the assignment that started the thread left it. The
  // calls below run there, which alone cuts the link: no lock needed to look at Owner in them.
  const TThreadMethod status =
      TThreadMethod::Callable([link = FLink, err, desc = err == 0 ? String() : sock.LastErrorDesc(),
                               port = err == 0 ? sock.GetLocalSinPort() : 0] {
        TQxUDPS* c = link->Owner;
        if (c == nullptr) return;
        c->FUDPError = err;
        c->FUDPErrorDesc = desc;
        c->FBoundPort = port;
        c->FUDPActive = err == 0;
        c->DoUDPStatus();
      });
  // Built once: the hand-off of a packet allocates nothing.
  const TThreadMethod packet = TThreadMethod::Callable([this] { DeliverRun(); });
  if (!Synced(status) || err != 0) return;

  while (!Terminated()) {
    if (F_STOP) break;
    // Receive first; wait only when nothing is there and nothing is queued. Queued sends and
    // the stop request end the wait, so an idle thread wakes once a second at most.
    bool ready = FGather.Poll(sock);
    if (!ready && FQueued == 0 && sock.CanRead(IdleWaitMs)) ready = FGather.Poll(sock);
    FCycleOpen = true;
    if (ready && !ReceiveStep(packet)) break;
    if (FCycleOpen && !SendStep()) break;
  }
  FGather.Reset();
  sock.CloseSocket();
}

bool TUDPThread::GatherPacket(const TQxUDPS::TLiveProps& props) {
  const RawByteString& L = props.LineEndRx;
  const bool lineMode = L == RawByteString("\r") || L == RawByteString("\r\n");
  FGather.SetPreferred(props.PreferredAddr);
  if (!FGather.Gather(*FUDPSrvSock, L, lineMode ? 5000 : props.RxTimeout, &F_STOP)) return false;
  const std::string_view data = FGather.Packet();
  if (data.empty()) return false;
  // Converted before the hand-off, so that the handler's call only trades buffers.
  FExchange.Packet.Fill(data, FGather.Sender(), props.UTF8);
  FUDPPeerIP = FExchange.Packet.PeerIP;
  return true;
}

bool TUDPThread::ReceiveStep(const TThreadMethod& packet) {
  TQxUDPS::TLiveProps props;
  {
    std::lock_guard<std::mutex> g(FLink->Lock);
    if (FLink->Owner == nullptr) return false;
    props = FLink->Owner->LiveProps(/*forReading=*/true);
  }
  if (!GatherPacket(props)) return true;
  FRun = props.LineEndRx.empty();
  if (!Synced(packet)) return false;
  if (FCycleOpen) Respond();
  return true;
}

void TUDPThread::Respond() {
  FExchange.SendResponse(*FUDPSrvSock, FGather.Sender(), /*rxLineEnd=*/true);
  FExchange.Response.clear();
}

void TUDPThread::DeliverRun() {
  // Every datagram is a packet of its own in datagram mode, so the ones already received need
  // no waiting to be gathered: delivering them here, cycle after cycle, spares two thread
  // wake-ups per packet, which is what limits a flood's rate. Each cycle is the thread's own, in
  // its order: the packet, its response, the send step, then the stop check and the live
  // properties at the top of the next. A queued send may have to resolve a name, so the run
  // leaves every send step that has work to the thread.
  // Slow handlers end the run early, so the loop's other work (painting, timers) waits for
  // about a millisecond at most.
  if (FLink->Owner == nullptr) return;
  const auto until = std::chrono::steady_clock::now() + MaxRunTime;
  FLink->Owner->Deliver(FExchange, /*reply=*/false);
  for (int n = 1; FRun && n < MaxRun && FGather.Pending(); ++n) {
    if (FLink->Owner == nullptr || FQueued != 0 || std::chrono::steady_clock::now() >= until)
      return;
    Respond();
    // The top of the next cycle.
    FCycleOpen = false;
    if (F_STOP || Terminated()) return;
    TQxUDPS::TLiveProps props = FLink->Owner->LiveProps(/*forReading=*/true);
    if (!props.LineEndRx.empty()) return;  // lines: the thread gathers them
    FCycleOpen = true;
    if (GatherPacket(props)) FLink->Owner->Deliver(FExchange, /*reply=*/false);
  }
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

  TQxUDPS::TLiveProps props;
  {
    std::lock_guard<std::mutex> g(FLink->Lock);
    if (FLink->Owner == nullptr) return false;
    props = FLink->Owner->LiveProps();
  }
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
