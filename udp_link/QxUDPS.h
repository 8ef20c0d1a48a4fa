// TQxUDPS: the UDP server and client component. Active, it binds a receive socket and runs a
// receive thread that cuts incoming data into packets by the receive line end and raises
// OnGetPacketUDP on the main thread, sending the handler's response back to the peer; it sends
// queued datagrams from the same socket, does one-shot sends on short-lived threads that collect
// replies, and shows the host's network identity.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <qx/framework/core/Classes.h>
#include <qx/udp_link/QxUDPSOwner.h>

class IClosingOwner;
class TCriticalSection;
class TUDPThread;
struct TQxUDPSLink;

// The process-wide lock around the receive threads' send queues.
extern TCriticalSection* csCriticalSection;

// Sender, PacketUDP, PacketUDPHex, PeerIP, PeerPort, Response (in and out).
using TOnGetPacketUDP = TMethod<TObject*, String, String, String, String, String&>;
// Sender, Active, Error, ErrorDesc.
using TOnUDPStatus = TMethod<TObject*, bool, int32_t, String>;
// Sender, PeerIP, PeerPort, Lines, Bytes, Reason ("no line end within 5 s"): unfinished lines of
// one sender dropped, summed up once a second at most; PeerIP 0.0.0.0 sums up further senders.
using TOnLineDropped = TMethod<TObject*, String, String, int32_t, int32_t, String>;

class TQxUDPS : public TComponent, private IQxUDPSOwner {
  QX_CLASS(TQxUDPS)
  explicit TQxUDPS(TComponent* AOwner);

 protected:
  ~TQxUDPS() override;

 public:
  void BeforeDestruction() override;

  // Queues a datagram on the receive thread; dropped while inactive.
  void UDPServerSendTo(const String& ip, const String& port, const RawByteString& data);
  // Sends one datagram from a fresh socket and reports its replies; never blocks.
  void UDPClientSendTo(const String& sIP, const String& sPort, const String& AData);
  RawByteString ConvertWin1250toUTF8(const RawByteString& value);
  RawByteString ConvertUTF8toWin1250(const RawByteString& value);
  void RefreshPcIP();
  // Takes over the receive thread of `running`, bound socket, send queue and the datagrams
  // waiting in the socket included, when this component is inactive and names the address and
  // port that thread is bound to. Nothing is let go in between: no datagram is lost and no
  // other process can take the port (a form read again takes over from the one it replaces).
  // From then on the thread delivers to this component, cut by its properties; `running` is
  // inactive and this one active, neither with a status event. False, changing nothing, when
  // they differ or `running` has no bound thread.
  bool TakeOverReceiveThread(TQxUDPS* running);

  // Published properties.
  bool UDPActive() const { return FUDPActive; }
  void SetUDPActive(bool Value);
  bool UTF8() const { return FUTF8; }
  void SetFUTF8(bool Value) {
    FUTF8 = Value;
    ++FPropsVersion;
  }
  const String& UDPRxPort() const { return FUDPRxPort; }
  void SetFUDPRxPort(const String& Value) { FUDPRxPort = Value; }
  const String& UDPTxPort() const { return FUDPTxPort; }
  void SetFUDPTxPort(const String& Value) { FUDPTxPort = Value; }
  const String& pcIP() const { return FpcIP; }
  void SetFpcIP(const String& Value) { FpcIP = Value; }
  TStrings* pcIPs() const { return FpcIPs.get(); }
  void SetFpcIPs(TStrings* Value);
  const String& pcName() const { return FpcName; }
  void SetFpcName(const String& Value);
  const String& pcMAC() const { return FpcMAC; }
  void SetFpcMAC(const String& Value);
  const String& UDPLocalIP() const { return FUDPLocalIP; }
  void SetFUDPLocalIP(const String& Value) { FUDPLocalIP = Value; }
  bool UDPBroadcast() const { return FUDPBroadcast; }
  void SetFUDPBroadcast(bool Value) {
    FUDPBroadcast = Value;
    ++FPropsVersion;
  }
  String UDPLineEndTx() const;
  void SetFUDPLineEndTx(const String& Value);
  String UDPLineEndRx() const;
  void SetFUDPLineEndRx(const String& Value);
  const TOnGetPacketUDP& OnGetPacketUDP() const { return FOnGetPacketUDP; }
  void SetFOnGetPacketUDP(const TOnGetPacketUDP& Value) { FOnGetPacketUDP = Value; }
  const TOnUDPStatus& OnUDPStatus() const { return FOnUDPStatus; }
  void SetFOnUDPStatus(const TOnUDPStatus& Value) { FOnUDPStatus = Value; }
  const TOnLineDropped& OnLineDropped() const { return FOnLineDropped; }
  void SetFOnLineDropped(const TOnLineDropped& Value) { FOnLineDropped = Value; }
  int32_t UDPRxTimeout() const { return FUDPRxTimeout; }
  void SetFUDPRxTimeout(int32_t Value) {
    FUDPRxTimeout = Value;
    ++FPropsVersion;
  }
  // A dotted IPv4 address whose datagrams are kept first when more senders talk than the
  // receive thread can take (any port); empty, or anything else, names none.
  const String& UDPPreferredIP() const { return FUDPPreferredIP; }
  void SetFUDPPreferredIP(const String& Value);
  // Decides which datagrams go ahead instead of UDPPreferredIP while set (not a published
  // property: it is code, given by the program or a linked component).
  std::shared_ptr<IQxUDPSPreference> Preference() const;
  void SetPreference(std::shared_ptr<IQxUDPSPreference> Value);
  const String& Version() const { return FVersion; }

  // Last bind outcome, as the status event reports it.
  int32_t UDPError() const { return FUDPError; }
  const String& UDPErrorDesc() const { return FUDPErrorDesc; }
  // The errno the last bind's code was made from (0: none), for the system's own words.
  int UDPErrno() const { return FUDPErrno; }
  // The local port the receive socket is bound to while active (0 otherwise); useful when
  // UDPRxPort is "0".
  int BoundPort() const { return FBoundPort; }
  // One-shot sends still running (they end about a second after their last reply).
  int ClientSendsRunning() const;
  // The text that ends an answer to a received packet, as the receive thread ends a response:
  // what UDPLineEndRx names ("CRLF" gives CR LF), empty for none. For a handler that puts
  // several lines into one response.
  String AnswerLineEnd() const;

 protected:
  void Loaded() override;
  virtual void DoUDPStatus();
  virtual void DoGetPacketUDP();
  virtual void DoClientPacketUDP();
  void SetEvents();
  void RestoreEvents();
  // The owner when it is a form that offers its closing, or none.
  IClosingOwner* GetForm() const;
  void FmyOnFormClose(TObject* Sender, TCloseAction& Action);
  void KillUDPSrvThread(TObject* Sender);
  String GetMACAdress();
  String GetFpcIP();
  // How many 1 ms cycles the stop waits for the receive thread before giving up on it.
  void SetStopWaitCycles(int32_t cycles) { FStopWaitCycles = cycles; }

  TCloseEvent FSavedOnFormClose;

 private:
  // What the workers ask of the component (IQxUDPSOwner).
  // A snapshot of the properties the workers go by while the main thread may write them.
  TQxUDPSLiveProps LiveProps() const override;
  // Main thread: sets the bind outcome's fields and raises the status.
  void BindResult(int32_t error, int errnoValue, const String& errorDesc, int boundPort) override;
  // Main thread: puts the packet into the receive slots (the reply slots for a one-shot send's
  // reply), raises the event and takes the handler's response. A packet of the receive thread is
  // the moment it reads data, when a UDPRxTimeout below 1 ms becomes 1 in the property itself.
  bool Deliver(TQxUDPSExchange& x, bool reply) override;
  // Main thread: raises OnLineDropped for each sender's dropped lines.
  void LinesDropped(const std::vector<TPacketGatherer::TDroppedLine>& drops,
                    int32_t waitMs) override;
  void StopReceiveThread();
  void AbandonReceiveThread();

  std::atomic<bool> FUDPActive{false};
  String FUDPRxPort;
  String FUDPTxPort;
  std::atomic<bool> FUDPBroadcast{false};
  String FUDPLineEndTx;
  String FUDPLineEndRx;
  String FUDPLocalIP;
  int32_t FUDPError = 0;
  int FUDPErrno = 0;
  String FUDPErrorDesc;
  String FpcIP;
  std::unique_ptr<TStringList> FpcIPs;
  String FpcName;
  String FpcMAC;
  String FPacketUDP;
  String FPacketUDPHex;
  String FPeerIP;
  String FPeerPort;
  String FUdpResponse;
  std::atomic<int32_t> FUDPRxTimeout{100};
  String FUDPPreferredIP;
  std::atomic<uint32_t> FPreferredAddr{0};         // FUDPPreferredIP parsed, for the workers
  std::shared_ptr<IQxUDPSPreference> FPreference;  // under FLineEndLock
  String FCLPacketUDP;
  String FCLPacketUDPHex;
  String FCLPeerIP;
  String FCLPeerPort;
  String FCLUdpResponse;
  TOnGetPacketUDP FOnGetPacketUDP;
  TOnUDPStatus FOnUDPStatus;
  TOnLineDropped FOnLineDropped;
  TUDPThread* FUDPThread = nullptr;
  std::atomic<bool> FUTF8{false};
  String FVersion;

  mutable std::mutex FLineEndLock;         // line ends and FPreference, read by the workers
  std::atomic<uint32_t> FPropsVersion{0};  // counts the writes of what LiveProps gives
  std::shared_ptr<TQxUDPSLink> FClientLink;
  std::atomic<int> FBoundPort{0};
  bool FHookInstalled = false;
  bool FStreamedActive = false;  // UDPActive read from a form file, applied in Loaded
  bool FInOwnDelivery = false;   // a handler of the receive thread's delivery is running
  int32_t FStopWaitCycles = 30000;
};
