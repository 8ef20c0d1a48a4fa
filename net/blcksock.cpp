#include <qx/net/blcksock.h>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <qx/net/SockAddr.h>

TUDPBlockSocket::TUDPBlockSocket() {
  FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FWakeFd < 0) FWakeFdErrno = errno;
}

TUDPBlockSocket::~TUDPBlockSocket() {
  Release();
}

TUDPBlockSocket::TUDPBlockSocket(TUDPBlockSocket&& other) noexcept
    : ConvertLineEnd(other.ConvertLineEnd),
      FSocket(other.FSocket),
      FWakeFd(other.FWakeFd),
      FWakeFdErrno(other.FWakeFdErrno),
      FAborted(other.FAborted.load()),
      FLastError(other.FLastError),
      FLastErrno(other.FLastErrno),
      FWakeFdFailed(other.FWakeFdFailed),
      FTimeout(other.FTimeout),
      FTTL(other.FTTL),
      FBroadcast(other.FBroadcast),
      FRemoteSin(other.FRemoteSin),
      FHasRemote(other.FHasRemote),
      FHeld(std::move(other.FHeld)),
      FRecvBuf(std::move(other.FRecvBuf)) {
  other.FSocket = -1;
  other.FWakeFd = -1;
  other.FHeld.Clear();
}

TUDPBlockSocket& TUDPBlockSocket::operator=(TUDPBlockSocket&& other) noexcept {
  if (this != &other) {
    Release();
    ConvertLineEnd = other.ConvertLineEnd;
    FSocket = other.FSocket;
    FWakeFd = other.FWakeFd;
    FWakeFdErrno = other.FWakeFdErrno;
    FAborted = other.FAborted.load();
    FLastError = other.FLastError;
    FLastErrno = other.FLastErrno;
    FWakeFdFailed = other.FWakeFdFailed;
    FTimeout = other.FTimeout;
    FTTL = other.FTTL;
    FBroadcast = other.FBroadcast;
    FRemoteSin = other.FRemoteSin;
    FHasRemote = other.FHasRemote;
    FHeld = std::move(other.FHeld);
    FRecvBuf = std::move(other.FRecvBuf);
    other.FSocket = -1;
    other.FWakeFd = -1;
    other.FHeld.Clear();
  }
  return *this;
}

void TUDPBlockSocket::Release() noexcept {
  if (FSocket >= 0) close(FSocket);
  if (FWakeFd >= 0) close(FWakeFd);
  FSocket = -1;
  FWakeFd = -1;
}

void TUDPBlockSocket::FailErrno(int err) {
  Fail(ErrnoToWinsock(err), err);
}

String TUDPBlockSocket::LastErrorDesc() const {
  String desc = WinsockErrorDesc(FLastError);
  return FWakeFdFailed ? "Could not create the socket's wake-up descriptor: " + desc : desc;
}

// ---------------------------------------------------------------------------------------------
// Life cycle and options

void TUDPBlockSocket::CreateSocket() {
  if (FSocket >= 0) {
    SetOK();
    return;
  }
  if (FWakeFd < 0) {
    // Without it no wait of the socket could be ended early, and a stop would sit out every wait
    // and read to its time-out. A moved-from object has none either; it fails like a process out
    // of descriptors.
    FailErrno(FWakeFdErrno != 0 ? FWakeFdErrno : EMFILE);
    FWakeFdFailed = true;
    return;
  }
  FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (FSocket < 0) {
    FailErrno(errno);
    return;
  }
  SetOK();
  ApplyOptions();
}

bool TUDPBlockSocket::EnsureSocket() {
  if (FSocket < 0) CreateSocket();
  return FSocket >= 0;
}

void TUDPBlockSocket::CloseSocket() {
  if (FSocket >= 0) close(FSocket);
  FSocket = -1;
  FHeld.Clear();
  SetOK();
}

void TUDPBlockSocket::ApplyOptions() {
  if (FTimeout >= 0) SetTimeout(FTimeout);
  if (FTTL >= 0) SetMulticastTTL(FTTL);
  if (FBroadcast >= 0) EnableBroadcast(FBroadcast != 0);
}

void TUDPBlockSocket::SetTimeout(int Timeout) {
  FTimeout = Timeout > 0 ? Timeout : 0;
  if (FSocket < 0) return;
  timeval tv{};
  tv.tv_sec = FTimeout / 1000;
  tv.tv_usec = (FTimeout % 1000) * 1000;
  if (setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
      setsockopt(FSocket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
    FailErrno(errno);
}

void TUDPBlockSocket::SetMulticastTTL(int TTL) {
  if (TTL < 0 || TTL > 255) {
    Fail(WSAEINVAL);
    return;
  }
  FTTL = TTL;
  if (FSocket >= 0 && setsockopt(FSocket, IPPROTO_IP, IP_MULTICAST_TTL, &TTL, sizeof TTL) != 0)
    FailErrno(errno);
}

void TUDPBlockSocket::EnableBroadcast(bool Value) {
  FBroadcast = Value ? 1 : 0;
  if (FSocket >= 0 &&
      setsockopt(FSocket, SOL_SOCKET, SO_BROADCAST, &FBroadcast, sizeof FBroadcast) != 0)
    FailErrno(errno);
}

// ---------------------------------------------------------------------------------------------
// Addresses

void TUDPBlockSocket::Bind(const String& IP, const String& Port) {
  if (!EnsureSocket()) return;
  sockaddr_in local;
  if (int code = ResolveSockAddr(IP, Port, true, local); code != WSA_OK) {
    Fail(code);
    return;
  }
  if (bind(FSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    FailErrno(errno);
    return;
  }
  SetOK();
}

void TUDPBlockSocket::Connect(const String& IP, const String& Port) {
  if (!EnsureSocket()) return;
  sockaddr_in remote;
  if (int code = ResolveSockAddr(IP, Port, false, remote); code != WSA_OK) {
    Fail(code);
    return;
  }
  if (IP.empty() || remote.sin_addr.s_addr == htonl(INADDR_ANY) || remote.sin_port == 0) {
    Fail(WSAEADDRNOTAVAIL);
    return;
  }
  FRemoteSin = remote;
  FHasRemote = true;
  SetOK();
}

String TUDPBlockSocket::GetRemoteSinIP() const {
  return SinIP(FRemoteSin);
}

int TUDPBlockSocket::GetRemoteSinPort() const {
  return ntohs(FRemoteSin.sin_port);
}

String TUDPBlockSocket::GetLocalSinIP() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (FSocket >= 0) getsockname(FSocket, reinterpret_cast<sockaddr*>(&local), &len);
  return SinIP(local);
}

int TUDPBlockSocket::GetLocalSinPort() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (FSocket >= 0) getsockname(FSocket, reinterpret_cast<sockaddr*>(&local), &len);
  return ntohs(local.sin_port);
}

String TUDPBlockSocket::LocalName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    FailErrno(errno);
    return {};
  }
  SetOK();
  return name;
}

// ---------------------------------------------------------------------------------------------
// Sending

void TUDPBlockSocket::SendString(const RawByteString& Data) {
  if (FSocket < 0) {
    Fail(WSAENOTSOCK);
    return;
  }
  if (!FHasRemote) {
    Fail(WSAEDESTADDRREQ);
    return;
  }
  for (;;) {
    const ssize_t sent = sendto(FSocket, Data.data(), Data.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&FRemoteSin), sizeof FRemoteSin);
    if (sent >= 0) break;
    if (errno == EINTR) continue;
    // A blocking send that gives up does so because SO_SNDTIMEO ran out.
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      Fail(WSAETIMEDOUT);
    else
      FailErrno(errno);
    return;
  }
  SetOK();
}
