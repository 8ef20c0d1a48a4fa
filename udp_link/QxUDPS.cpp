#include <qx/udp_link/QxUDPS.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>

#include <qx/framework/app/Application.h>
#include <qx/framework/core/ClosingOwner.h>
#include <qx/framework/core/ScopeExit.h>
#include <qx/net/synachar.h>
#include <qx/udp_link/HostIdentity.h>
#include <qx/udp_link/PacketText.h>
#include <qx/udp_link/QxUDPSLink.h>
#include <qx/udp_link/UDPClientThread.h>
#include <qx/udp_link/UDPServerThread.h>

namespace {

constexpr const char* kVersion = "1.5";

}  // namespace

QX_DEFINE_CLASS(TQxUDPS, TComponent, [](TPropsBuilder<TQxUDPS>& p) {
  p.Boolean("UDPActive", &TQxUDPS::UDPActive, &TQxUDPS::SetUDPActive, false);
  p.Boolean("UTF8", &TQxUDPS::UTF8, &TQxUDPS::SetFUTF8);
  p.Text("UDPRxPort", &TQxUDPS::UDPRxPort, &TQxUDPS::SetFUDPRxPort);
  p.Text("UDPTxPort", &TQxUDPS::UDPTxPort, &TQxUDPS::SetFUDPTxPort);
  p.Text("pcIP", &TQxUDPS::pcIP, &TQxUDPS::SetFpcIP);
  p.Strings("pcIPs", &TQxUDPS::pcIPs, &TQxUDPS::SetFpcIPs);
  p.Text("pcName", &TQxUDPS::pcName, &TQxUDPS::SetFpcName);
  p.Text("pcMAC", &TQxUDPS::pcMAC, &TQxUDPS::SetFpcMAC);
  p.Text("UDPLocalIP", &TQxUDPS::UDPLocalIP, &TQxUDPS::SetFUDPLocalIP);
  p.Boolean("UDPBroadcast", &TQxUDPS::UDPBroadcast, &TQxUDPS::SetFUDPBroadcast);
  p.Text("UDPLineEndTx", &TQxUDPS::UDPLineEndTx, &TQxUDPS::SetFUDPLineEndTx);
  p.Text("UDPLineEndRx", &TQxUDPS::UDPLineEndRx, &TQxUDPS::SetFUDPLineEndRx);
  p.Event<TOnGetPacketUDP>("OnGetPacketUDP", &TQxUDPS::OnGetPacketUDP,
                           &TQxUDPS::SetFOnGetPacketUDP);
  p.Event<TOnUDPStatus>("OnUDPStatus", &TQxUDPS::OnUDPStatus, &TQxUDPS::SetFOnUDPStatus);
  p.Event<TOnLineDropped>("OnLineDropped", &TQxUDPS::OnLineDropped, &TQxUDPS::SetFOnLineDropped);
  p.Integer("UDPRxTimeout", &TQxUDPS::UDPRxTimeout, &TQxUDPS::SetFUDPRxTimeout, 100);
  p.Text("UDPPreferredIP", &TQxUDPS::UDPPreferredIP, &TQxUDPS::SetFUDPPreferredIP);
  p.Text("Version", &TQxUDPS::Version, nullptr);
})

TQxUDPS::TQxUDPS(TComponent* AOwner)
    : TComponent(AOwner),
      FUDPRxPort("0"),
      FUDPTxPort("0"),
      FpcIPs(std::make_unique<TStringList>()),
      FClientLink(std::make_shared<TQxUDPSLink>()) {
  FClientLink->Owner = static_cast<IQxUDPSOwner*>(this);
  GetAdapterList(FpcIPs.get(), true, false);
  RefreshPcIP();
  {
    TUDPBlockSocket sock;  // for the host name only; opens no socket
    FpcName = sock.LocalName();
    FpcMAC = GetMACAdress();
  }
  FUDPLocalIP = "127.0.0.1";
  FUDPRxTimeout = 100;
  FVersion = kVersion;
}

TQxUDPS::~TQxUDPS() = default;

void TQxUDPS::BeforeDestruction() {
  // A component may die before its form closes, or have no form: its receive thread must not
  // outlive it. One-shot sends still running are cut off; they end by themselves.
  if (FUDPThread != nullptr) StopReceiveThread();
  if (FUDPThread != nullptr) AbandonReceiveThread();  // freed by a handler of its own delivery
  FClientLink->Cut();
  if (!IsDesigning()) RestoreEvents();
  TComponent::BeforeDestruction();
}

void TQxUDPS::Loaded() {
  const bool wasLoading = IsLoading();
  TComponent::Loaded();
  if (!IsDesigning() && wasLoading) {
    SetEvents();
    GetAdapterList(FpcIPs.get(), true, false);
    RefreshPcIP();
  }
  RefreshPcIP();
  // Started only now, so the thread binds the port and address the file names.
  if (FStreamedActive) {
    FStreamedActive = false;
    SetUDPActive(true);
  }
}

String TQxUDPS::UDPLineEndTx() const {
  std::lock_guard<std::mutex> g(FLineEndLock);
  return FUDPLineEndTx;
}

void TQxUDPS::SetFUDPLineEndTx(const String& Value) {
  std::lock_guard<std::mutex> g(FLineEndLock);
  FUDPLineEndTx = Value;
  ++FPropsVersion;
}

String TQxUDPS::UDPLineEndRx() const {
  std::lock_guard<std::mutex> g(FLineEndLock);
  return FUDPLineEndRx;
}

void TQxUDPS::SetFUDPLineEndRx(const String& Value) {
  std::lock_guard<std::mutex> g(FLineEndLock);
  FUDPLineEndRx = Value;
  ++FPropsVersion;
}

void TQxUDPS::SetFUDPPreferredIP(const String& Value) {
  FUDPPreferredIP = Value;
  in_addr a{};
  FPreferredAddr = inet_pton(AF_INET, Value.c_str(), &a) == 1 ? a.s_addr : 0;
  ++FPropsVersion;
}

std::shared_ptr<IQxUDPSPreference> TQxUDPS::Preference() const {
  std::lock_guard<std::mutex> g(FLineEndLock);
  return FPreference;
}

void TQxUDPS::SetPreference(std::shared_ptr<IQxUDPSPreference> Value) {
  std::lock_guard<std::mutex> g(FLineEndLock);
  FPreference = std::move(Value);
  ++FPropsVersion;
}

TQxUDPSLiveProps TQxUDPS::LiveProps() const {
  TQxUDPSLiveProps p;
  p.Version = FPropsVersion;
  {
    std::lock_guard<std::mutex> g(FLineEndLock);
    p.LineEndRx = LineEndBytes(FUDPLineEndRx);
    p.LineEndTx = LineEndBytes(FUDPLineEndTx);
    p.Prefer = FPreference;
  }
  p.UTF8 = FUTF8;
  // With UTF8 the wire carries UTF-8, line ends included.
  p.LineEndRx = WireLineEnd(p.LineEndRx, p.UTF8);
  p.LineEndTx = WireLineEnd(p.LineEndTx, p.UTF8);
  p.Broadcast = FUDPBroadcast;
  p.RxTimeout = std::max<int32_t>(FUDPRxTimeout, 1);
  p.PreferredAddr = FPreferredAddr;
  return p;
}

void TQxUDPS::SetUDPActive(bool Value) {
  if (IsDesigning()) return;  // a form file never stores an active component
  if (IsLoading()) {
    // The properties that follow in the file are not applied yet: Loaded starts it.
    FStreamedActive = Value;
    return;
  }
  if (Value == FUDPActive) return;
  if (Value) {
    // A thread stopped by a handler of its own delivery may not have ended yet: it ends at once.
    if (FUDPThread != nullptr && FUDPThread->F_STOP && !FInOwnDelivery) StopReceiveThread();
    if (FUDPThread != nullptr) return;
    auto* t = new TUDPThread(true, static_cast<IQxUDPSOwner*>(this));
    FUDPThread = t;
    t->OnTerminate = TNotifyEvent(this, &TQxUDPS::KillUDPSrvThread);
    t->F_STOP = false;
    t->FUDPLocalHostIP = FUDPLocalIP;
    t->FUDPLocalPort = FUDPRxPort;
    FUDPActive = true;
    t->Start();
  } else {
    StopReceiveThread();
  }
}

void TQxUDPS::StopReceiveThread() {
  if (FUDPThread != nullptr) {
    FUDPThread->F_STOP = true;
    // No need to wait for the idle poll, or for the rest of a line that may never come.
    FUDPThread->AbortWaits();
    if (FInOwnDelivery) {
      // Asked by a handler of the thread's own delivery, which the thread is waiting for:
      // waiting for the thread would wait for this very handler. The stop takes effect when the
      // handler returns; the thread delivers nothing more, ends at once, and its end reports.
      FUDPActive = false;
      return;
    }
  }
  // Pending status and packet events, and the thread's end, are delivered inside this wait; it
  // is a nested wait, so nothing else (a signal, a timer) runs inside the stop. Each cycle waits
  // up to 1 ms, but no longer than until the thread posts something (its end, most of all), so
  // an idle stop returns as soon as the thread has ended.
  int32_t cycles = 0;
  do {
    Application->ServeQueuedCalls(std::chrono::milliseconds(1));
    ++cycles;
  } while (FUDPThread != nullptr && cycles <= FStopWaitCycles);
  if (FUDPThread != nullptr) AbandonReceiveThread();
  FUDPActive = false;
}

void TQxUDPS::AbandonReceiveThread() {
  // The thread did not end in time. Rather than killing it in the middle of whatever it holds
  // (the queue lock, its socket), cut it off: it can no longer reach this component, ends at its
  // next step, closes its own socket and frees itself; its end reports nothing.
  FUDPThread->OnTerminate = nullptr;
  FUDPThread->Abandon();
  FUDPThread = nullptr;
  FBoundPort = 0;
}

void TQxUDPS::KillUDPSrvThread(TObject* /*Sender*/) {
  FUDPThread = nullptr;
  FUDPActive = false;
  FBoundPort = 0;
  DoUDPStatus();
}

void TQxUDPS::DoUDPStatus() {
  if (FOnUDPStatus) FOnUDPStatus(this, FUDPActive, FUDPError, FUDPErrorDesc);
}

void TQxUDPS::DoGetPacketUDP() {
  if (FOnGetPacketUDP)
    FOnGetPacketUDP(this, FPacketUDP, FPacketUDPHex, FPeerIP, FPeerPort, FUdpResponse);
}

void TQxUDPS::BindResult(int32_t error, int errnoValue, const String& errorDesc, int boundPort) {
  auto own = ScopedFlag(FInOwnDelivery);
  FUDPError = error;
  FUDPErrno = errnoValue;
  FUDPErrorDesc = errorDesc;
  FBoundPort = boundPort;
  FUDPActive = error == 0;
  DoUDPStatus();
}

bool TQxUDPS::Deliver(TQxUDPSExchange& x, bool reply) {
  // The workers go by at least 1 already: raising the property changes nothing they see.
  if (!reply && FUDPRxTimeout < 1) FUDPRxTimeout = 1;
  if (reply)
    x.Packet.SwapWith(FCLPacketUDP, FCLPacketUDPHex, FCLPeerIP, FCLPeerPort);
  else
    x.Packet.SwapWith(FPacketUDP, FPacketUDPHex, FPeerIP, FPeerPort);
  String& slot = reply ? FCLUdpResponse : FUdpResponse;
  // A handler that serves queued calls may run another delivery inside its own: each takes only
  // the response its own handler gives.
  String outer;
  outer.swap(slot);
  if (reply) {
    DoClientPacketUDP();
  } else {
    auto own = ScopedFlag(FInOwnDelivery);
    DoGetPacketUDP();
  }
  x.Response.clear();
  x.Response.swap(slot);
  slot.swap(outer);
  if (FPropsVersion == x.Props.Version) return true;
  // The handler changed the line ends or UTF8: its response goes by the new ones.
  x.Props = LiveProps();
  return false;
}

void TQxUDPS::DoClientPacketUDP() {
  // A reply carries its own hexadecimal form, taken like the receive side's.
  if (FOnGetPacketUDP)
    FOnGetPacketUDP(this, FCLPacketUDP, FCLPacketUDPHex, FCLPeerIP, FCLPeerPort, FCLUdpResponse);
}

IClosingOwner* TQxUDPS::GetForm() const {
  return dynamic_cast<IClosingOwner*>(Owner());
}

void TQxUDPS::SetEvents() {
  if (IsDesigning() || FHookInstalled) return;
  IClosingOwner* form = GetForm();
  if (form == nullptr) return;
  FSavedOnFormClose = form->OwnerOnClose();
  form->OwnerOnClose() = TCloseEvent(this, &TQxUDPS::FmyOnFormClose);
  FHookInstalled = true;
}

void TQxUDPS::RestoreEvents() {
  // Only a hook this component installed is taken back; otherwise the form keeps its handler.
  if (!FHookInstalled) return;
  FHookInstalled = false;
  if (IClosingOwner* form = GetForm()) form->OwnerOnClose() = FSavedOnFormClose;
}

void TQxUDPS::FmyOnFormClose(TObject* Sender, TCloseAction& Action) {
  if (FSavedOnFormClose) FSavedOnFormClose(Sender, Action);
  IClosingOwner* form = GetForm();
  if (form != nullptr && form->OwnerHasWindow() && FUDPActive) {
    try {
      SetUDPActive(false);
    } catch (...) {
      Application->HandleException(this);
    }
  }
}

int TQxUDPS::ClientSendsRunning() const {
  return FClientLink->Running;
}

String TQxUDPS::AnswerLineEnd() const {
  return AnsiToString(LineEndBytes(UDPLineEndRx()));
}

void TQxUDPS::UDPServerSendTo(const String& ip, const String& port, const RawByteString& data) {
  RawByteString d = FUTF8 ? CharsetConversion(data, CP1250, UTF_8) : data;
  if (FUDPThread != nullptr) FUDPThread->UdpSrvSendTo(ip, port, AnsiToString(d));
}

void TQxUDPS::UDPClientSendTo(const String& sIP, const String& sPort, const String& AData) {
  auto* t = new TUDPClientThread(true, FClientLink);
  t->FRemoteIP = sIP;
  t->FRemotePort = sPort;
  t->FData = StringToAnsi(AData);
  t->Start();
}

RawByteString TQxUDPS::ConvertWin1250toUTF8(const RawByteString& value) {
  return CharsetConversion(value, CP1250, UTF_8);
}

RawByteString TQxUDPS::ConvertUTF8toWin1250(const RawByteString& value) {
  return CharsetConversion(value, UTF_8, CP1250);
}

void TQxUDPS::LinesDropped(const std::vector<TPacketGatherer::TDroppedLine>& drops,
                           int32_t waitMs) {
  for (const TPacketGatherer::TDroppedLine& d : drops) {
    if (!FOnLineDropped.Assigned()) return;
    char ip[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &d.From.sin_addr, ip, sizeof ip);
    FOnLineDropped(this, ip, IntToStr(ntohs(d.From.sin_port)),
                   static_cast<int32_t>(std::min<size_t>(d.Lines, INT32_MAX)),
                   static_cast<int32_t>(std::min<size_t>(d.Bytes, INT32_MAX)),
                   TPacketGatherer::DropReason(d.Why, waitMs));
  }
}
