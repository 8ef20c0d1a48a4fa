#include "udp_link/QxUDPS.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/app/Application.h"
#include "net/SockAddr.h"
#include "net/synachar.h"
#include "platform/hostinfo/iphlpapi.h"
#include "platform/hostinfo/nb30.h"

// Created once for the process and never freed: an abandoned worker may still leave it after the
// library's static objects are gone.
TCriticalSection* csCriticalSection = new TCriticalSection();

namespace {

constexpr const char* kVersion = "1.5";

// The adapter table grows between two calls on a busy host; a handful of retries is plenty, and
// a table that keeps growing is reported like any other failure.
constexpr int kMaxAdapterQueries = 8;

// Fills List with one line per selected adapter, or with one failure line.
void GetAdapterList(TStrings* List, bool AllAdapters, bool MACOnly) {
  List->Clear();
  ULONG size = 60;
  std::vector<uint64_t> buffer;  // 8-byte aligned, as the records need
  DWORD result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < kMaxAdapterQueries && result == ERROR_BUFFER_OVERFLOW;
       ++attempt) {
    buffer.assign((size + 7) / 8, 0);
    result = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  }
  if (result == ERROR_SUCCESS && size == 0) result = ERROR_NO_DATA;
  if (result != ERROR_SUCCESS) {
    if (result == ERROR_NOT_SUPPORTED)
      List->Add(
          "GetAdaptersInfo is not supported by the operating system running on the local "
          "computer.");
    else if (result == ERROR_NO_DATA)
      List->Add("No network adapter on the local computer.");
    else
      List->Add("GetAdaptersInfo failed with error #" + IntToStr(static_cast<uint32_t>(result)));
    return;
  }
  auto text = [](const IP_ADDRESS_STRING& s) {
    return String(s.String, strnlen(s.String, sizeof(s.String)));
  };
  for (auto* a = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); a != nullptr; a = a->Next) {
    if (!AllAdapters && text(a->GatewayList.IpAddress) == "0.0.0.0") continue;
    if (text(a->IpAddressList.IpAddress) == "0.0.0.0") continue;
    if (MACOnly) {
      String mac;
      for (UINT i = 0; i < a->AddressLength && i < MAX_ADAPTER_ADDRESS_LENGTH; ++i) {
        if (i > 0) mac += '-';
        mac += IntToHex(a->Address[i], 2);
      }
      List->Add(mac);
    } else {
      List->Add(text(a->IpAddressList.IpAddress));
    }
  }
}

String MacText(const UCHAR* bytes) {
  String s;
  for (int i = 0; i < 6; ++i) s += IntToHex(bytes[i], 2);
  return s;
}

}  // namespace

RawByteString LineEndBytes(const String& text) {
  if (SameText(text, "CRLF")) return RawByteString("\r\n");
  if (SameText(text, "CR")) return RawByteString("\r");
  return StringToAnsi(text);
}

String HexForm(const RawByteString& bytes) {
  String out;
  HexFormInto(bytes.Bytes(), out);
  return out;
}

void HexFormInto(std::string_view bytes, String& out) {
  static const char* kDigits = "0123456789ABCDEF";
  char count[24];
  const int n = std::snprintf(count, sizeof count, "HEX(%zu) ", bytes.size());
  out.assign(count, static_cast<size_t>(n));
  out.reserve(out.size() + bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
}

RawByteString WireLineEnd(const RawByteString& lineEnd, bool utf8) {
  if (!utf8) return lineEnd;
  for (unsigned char c : lineEnd.Bytes())
    if (c >= 0x80) return CharsetConversion(lineEnd, CP1250, UTF_8);
  return lineEnd;
}

// ---------------------------------------------------------------------------------------------
// The component

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
  p.Integer("UDPRxTimeout", &TQxUDPS::UDPRxTimeout, &TQxUDPS::SetFUDPRxTimeout, 100);
  p.Text("Version", &TQxUDPS::Version, nullptr);
})

TQxUDPS::TQxUDPS(TComponent* AOwner)
    : TComponent(AOwner),
      FUDPRxPort("0"),
      FUDPTxPort("0"),
      FpcIPs(std::make_unique<TStringList>()),
      FClientLink(std::make_shared<TQxUDPSLink>()) {
  FClientLink->Owner = this;
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

TQxUDPS::~TQxUDPS() {
  Teardown();
}

void TQxUDPS::BeforeDestruction() {
  Teardown();
  TComponent::BeforeDestruction();
}

void TQxUDPS::Teardown() {
  if (FTornDown) return;
  FTornDown = true;
  // A component may die before its form closes, or have no form: its receive thread must not
  // outlive it. One-shot sends still running are cut off; they end by themselves.
  if (FUDPThread != nullptr) StopReceiveThread();
  {
    std::lock_guard<std::mutex> g(FClientLink->Lock);
    FClientLink->Owner = nullptr;
  }
  if (!IsDesigning()) RestoreEvents();
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
}

String TQxUDPS::UDPLineEndRx() const {
  std::lock_guard<std::mutex> g(FLineEndLock);
  return FUDPLineEndRx;
}

void TQxUDPS::SetFUDPLineEndRx(const String& Value) {
  std::lock_guard<std::mutex> g(FLineEndLock);
  FUDPLineEndRx = Value;
}

TQxUDPS::TLiveProps TQxUDPS::LiveProps(bool forReading) {
  TLiveProps p;
  {
    std::lock_guard<std::mutex> g(FLineEndLock);
    p.LineEndRx = LineEndBytes(FUDPLineEndRx);
    p.LineEndTx = LineEndBytes(FUDPLineEndTx);
  }
  p.UTF8 = FUTF8;
  // With UTF8 the wire carries UTF-8, line ends included.
  p.LineEndRx = WireLineEnd(p.LineEndRx, p.UTF8);
  p.LineEndTx = WireLineEnd(p.LineEndTx, p.UTF8);
  p.Broadcast = FUDPBroadcast;
  int32_t t = FUDPRxTimeout;
  if (t < 1 && forReading) {
    FUDPRxTimeout = 1;
    t = 1;
  }
  p.RxTimeout = std::max(t, 1);
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
    if (FUDPThread != nullptr) return;
    auto* t = new TUDPThread(true, this);
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
  }
  // Pending status and packet events, and the thread's end, are delivered inside this wait.
  // Each cycle waits up to 1 ms, but no longer than until the thread posts something (its
  // end, most of all), so an idle stop returns as soon as the thread has ended.
  int32_t cycles = 0;
  do {
    Application->ServeQueuedCalls(std::chrono::milliseconds(1));
    Application->ProcessMessages();
    ++cycles;
  } while (FUDPThread != nullptr && cycles <= FStopWaitCycles);
  if (FUDPThread != nullptr) AbandonReceiveThread();
  FUDPActive = false;
}

void TQxUDPS::AbandonReceiveThread() {
  // The thread did not end in time. Rather than killing it in the middle of whatever it holds
  // (the queue lock, its socket), cut it off: it can no longer reach this component, ends at its
  // next step, closes its own socket and frees itself; its end reports nothing.
  TUDPThread* t = FUDPThread;
  t->OnTerminate = nullptr;
  {
    std::lock_guard<std::mutex> g(t->FLink->Lock);
    t->FLink->Owner = nullptr;
  }
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

void TQxUDPS::DoClientPacketUDP() {
  // A reply carries its own hexadecimal form, taken like the receive side's.
  if (FOnGetPacketUDP)
    FOnGetPacketUDP(this, FCLPacketUDP, FCLPacketUDPHex, FCLPeerIP, FCLPeerPort, FCLUdpResponse);
}

TCustomForm* TQxUDPS::GetForm() const {
  return dynamic_cast<TCustomForm*>(Owner());
}

void TQxUDPS::SetEvents() {
  if (IsDesigning() || FHookInstalled) return;
  auto* form = dynamic_cast<TForm*>(Owner());
  if (form == nullptr) return;
  FSavedOnFormClose = form->OnClose;
  form->OnClose = TCloseEvent(this, &TQxUDPS::FmyOnFormClose);
  FHookInstalled = true;
}

void TQxUDPS::RestoreEvents() {
  // Only a hook this component installed is taken back; otherwise the form keeps its handler.
  if (!FHookInstalled) return;
  FHookInstalled = false;
  if (TCustomForm* form = GetForm()) form->OnClose = FSavedOnFormClose;
}

void TQxUDPS::FmyOnFormClose(TObject* Sender, TCloseAction& Action) {
  if (FSavedOnFormClose) FSavedOnFormClose(Sender, Action);
  TCustomForm* form = GetForm();
  if (form != nullptr && form->HandleAllocated() && FUDPActive) {
    try {
      SetUDPActive(false);
    } catch (...) {
      Application->HandleException(this);
    }
  }
}

void TQxUDPS::UDPServerSendTo(const String& ip, const String& port, const RawByteString& data) {
  RawByteString d = FUTF8 ? CharsetConversion(data, CP1250, UTF_8) : data;
  if (FUDPThread != nullptr) FUDPThread->UdpSrvSendTo(ip, port, AnsiToString(d));
}

void TQxUDPS::UDPClientSendTo(const String& sIP, const String& sPort, const String& AData) {
  auto* t = new TUDPClientThread(true, this);
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

// ---------------------------------------------------------------------------------------------
// Host identity

void TQxUDPS::RefreshPcIP() {
  TStringList list;
  GetAdapterList(&list, false, false);
  if (list.Count() > 0) FpcIP = list[0];
}

String TQxUDPS::GetFpcIP() {
  RefreshPcIP();
  return FpcIP;
}

void TQxUDPS::SetFpcIPs(TStrings* /*Value*/) {
  GetAdapterList(FpcIPs.get(), true, false);
}

void TQxUDPS::SetFpcName(const String& /*Value*/) {
  TUDPBlockSocket sock;
  FpcName = sock.LocalName();
}

void TQxUDPS::SetFpcMAC(const String& /*Value*/) {
  TStringList list;
  GetAdapterList(&list, false, true);
  if (list.Count() > 0) FpcMAC = list[0];
  FpcMAC = StringReplace(FpcMAC, "-", "", rfReplaceAll);
}

String TQxUDPS::GetMACAdress() {
  String result;
  NCB ncb;
  LANA_ENUM lenum;
  ADAPTER_STATUS status;
  std::memset(&ncb, 0, sizeof ncb);
  std::memset(&lenum, 0, sizeof lenum);
  std::memset(&status, 0, sizeof status);

  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lenum);
  ncb.ncb_length = sizeof lenum;
  Netbios(&ncb);

  int i = 0;
  do {
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lenum.lana[i];
    Netbios(&ncb);

    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lenum.lana[i];
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&status);
    ncb.ncb_length = sizeof status;
    UCHAR rc = Netbios(&ncb);
    if (rc == NRC_GOODRET || rc == NRC_INCOMP) result = MacText(status.adapter_address);
    ++i;
  } while (i < lenum.length && result == "000000000000");
  return result;
}

// ---------------------------------------------------------------------------------------------
// The receive thread

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

TThreadMethod TUDPThread::OnComponent(void (TQxUDPS::*method)()) {
  // Runs on the main thread, which alone cuts the link: no lock needed to look at Owner there.
  return TThreadMethod::Callable([link = FLink, method] {
    if (link->Owner != nullptr) (link->Owner->*method)();
  });
}

void TUDPThread::Execute() {
  TUDPBlockSocket& sock = *FUDPSrvSock;
  sock.CreateSocket();
  sock.Bind(FUDPLocalHostIP, FUDPLocalPort);
  sock.SetMulticastTTL(64);
  const int err = sock.LastError();
  // Room for bursts while a handler runs; the kernel may grant less.
  if (err == 0) sock.SetRecvBufferSize(RecvBufferBytes);
  {
    std::lock_guard<std::mutex> g(FLink->Lock);
    TQxUDPS* c = FLink->Owner;
    if (c == nullptr) return;
    c->FUDPError = err;
    c->FUDPErrorDesc = err == 0 ? String() : sock.LastErrorDesc();
    c->FBoundPort = err == 0 ? sock.GetLocalSinPort() : 0;
  }
  // UDPActive follows the bind on the main thread, as the status is raised: until then it reads
  // true there, as the assignment that started the thread left it.
  const TThreadMethod status = TThreadMethod::Callable([link = FLink, ok = err == 0] {
    if (link->Owner == nullptr) return;
    link->Owner->FUDPActive = ok;
    link->Owner->DoUDPStatus();
  });
  // Built once: the hand-off of a packet allocates nothing.
  const TThreadMethod packet = OnComponent(&TQxUDPS::DoGetPacketUDP);
  if (!Synced(status) || err != 0) return;

  while (!Terminated()) {
    if (F_STOP) break;
    // Receive first; wait only when nothing is there and nothing is queued. Queued sends and
    // the stop request end the wait, so an idle thread wakes once a second at most.
    bool ready = FGather.Poll(sock);
    if (!ready && FQueued == 0 && sock.CanRead(IdleWaitMs)) ready = FGather.Poll(sock);
    if (ready && !ReceiveStep(packet)) break;
    if (!SendStep()) break;
  }
  FGather.Reset();
  sock.CloseSocket();
}

bool TUDPThread::ReceiveStep(const TThreadMethod& packet) {
  TUDPBlockSocket& sock = *FUDPSrvSock;
  TQxUDPS::TLiveProps props;
  {
    std::lock_guard<std::mutex> g(FLink->Lock);
    if (FLink->Owner == nullptr) return false;
    props = FLink->Owner->LiveProps(/*forReading=*/true);
  }
  const RawByteString& L = props.LineEndRx;
  const bool lineMode = L == RawByteString("\r") || L == RawByteString("\r\n");
  if (!FGather.Gather(sock, L, lineMode ? 5000 : props.RxTimeout, &F_STOP)) return true;
  const std::string_view data = FGather.Packet();
  if (data.empty()) return true;
  const sockaddr_in& from = FGather.Sender();
  {
    std::lock_guard<std::mutex> g(FLink->Lock);
    TQxUDPS* c = FLink->Owner;
    if (c == nullptr) return false;
    HexFormInto(data, c->FPacketUDPHex);
    if (props.UTF8)
      AnsiToStringInto(CharsetConversion(RawByteString::FromBytes(data), UTF_8, CP1250).Bytes(),
                       c->FPacketUDP);
    else
      AnsiToStringInto(data, c->FPacketUDP);
    c->FPeerIP = SinIP(from);
    FUDPPeerIP = c->FPeerIP;
    c->FPeerPort = IntToStr(ntohs(from.sin_port));
  }
  if (!Synced(packet)) return false;

  RawByteString R;
  {
    std::lock_guard<std::mutex> g(FLink->Lock);
    TQxUDPS* c = FLink->Owner;
    if (c == nullptr) return false;
    if (c->FUdpResponse.empty()) return true;
    R = StringToAnsi(c->FUdpResponse);
    c->FUdpResponse.clear();
    props = c->LiveProps();  // the handler may have changed the line end or UTF8
  }
  if (props.UTF8) R = CharsetConversion(R, CP1250, UTF_8);
  if (!R.empty()) {
    // To the packet's sender, whoever was read last.
    sock.SetRemoteSin(from);
    sock.SendString(R + props.LineEndRx);
  }
  return true;
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

// ---------------------------------------------------------------------------------------------
// One-shot sends

TUDPClientThread::TUDPClientThread(bool Suspended, TQxUDPS* Parent)
    : TThread(true), FQxUDPS(Parent), FLink(Parent->FClientLink) {
  FreeOnTerminate = true;
  ++FLink->Running;
  if (!Suspended) Start();
}

void TUDPClientThread::Execute() {
  struct Done {
    TQxUDPSLink& L;
    ~Done() { --L.Running; }
  } done{*FLink};
  TQxUDPS::TLiveProps props;
  auto refresh = [&]() {
    std::lock_guard<std::mutex> g(FLink->Lock);
    if (FLink->Owner == nullptr) return false;
    props = FLink->Owner->LiveProps();
    return true;
  };
  if (!refresh()) return;
  RawByteString payload = props.UTF8 ? CharsetConversion(FData, CP1250, UTF_8) : FData;

  TUDPBlockSocket sock;
  sock.CreateSocket();
  sock.Bind("0.0.0.0", "0");
  sock.SetTimeout(20000);
  sock.SetMulticastTTL(64);
  sock.EnableBroadcast(ClientSendWantsBroadcast(FRemoteIP));
  sock.Connect(FRemoteIP, FRemotePort);
  if (sock.LastError() != 0 || payload.empty()) return;
  sock.SendString(payload + props.LineEndTx);

  TPacketGatherer gather;
  while (gather.Pending() || sock.CanRead(1000)) {
    if (!refresh()) return;
    if (!gather.Gather(sock, props.LineEndRx, 5000, nullptr) || gather.Packet().empty()) continue;
    RawByteString reply = RawByteString::FromBytes(gather.Packet());
    const sockaddr_in from = gather.Sender();
    String hex = HexForm(reply);
    if (props.UTF8) reply = CharsetConversion(reply, UTF_8, CP1250);

    RawByteString R;
    {
      // Filling the slots, raising the event and taking the response are one step per reply, so
      // concurrent sends of the component never mix their replies.
      std::lock_guard<std::mutex> one(FLink->ReplyLock);
      {
        std::lock_guard<std::mutex> g(FLink->Lock);
        TQxUDPS* c = FLink->Owner;
        if (c == nullptr) return;
        c->FCLPacketUDP = AnsiToString(reply);
        c->FCLPacketUDPHex = std::move(hex);
        c->FCLPeerIP = SinIP(from);
        c->FCLPeerPort = IntToStr(ntohs(from.sin_port));
      }
      auto link = FLink;
      Synchronize(TThreadMethod::Callable([link] {
        if (link->Owner != nullptr) link->Owner->DoClientPacketUDP();
      }));
      std::lock_guard<std::mutex> g(FLink->Lock);
      TQxUDPS* c = FLink->Owner;
      if (c == nullptr) return;
      R = StringToAnsi(c->FCLUdpResponse);
      c->FCLUdpResponse.clear();
      props = c->LiveProps();
    }
    if (props.UTF8) R = CharsetConversion(R, CP1250, UTF_8);
    if (!R.empty()) {
      sock.SetRemoteSin(from);
      sock.SendString(R + props.LineEndTx);
    }
  }
}
