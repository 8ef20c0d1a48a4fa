// The receive side of TUDPBlockSocket: datagrams, lines and the waits its wake-up descriptor ends.
#include <linux/sock_diag.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <qx/net/blcksock.h>

namespace {

// Room for the largest datagram any IPv4 socket can deliver.
constexpr size_t RecvBufSize = 65536;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t DeadlineAfter(int timeoutMs) {
  return NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
}

int RemainingMs(int64_t deadlineMs) {
  const int64_t left = deadlineMs - NowMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Receiving

ssize_t TUDPBlockSocket::ReceiveDatagram(int64_t DeadlineMs) {
  if (!FRecvBuf) FRecvBuf = std::make_unique_for_overwrite<char[]>(RecvBufSize);
  // Wake-ups are for CanRead; a read only listens to them for an Abort, and hands any other one
  // on to the next CanRead.
  struct Rewake {
    TUDPBlockSocket* S;
    bool Pending = false;
    ~Rewake() {
      if (Pending) S->WakeUp();
    }
  } rewake{this};
  // Receive first: a datagram already queued costs one system call, no poll.
  bool tryFirst = true;
  for (;;) {
    if (FAborted) {
      Fail(WSAEINTR);
      return -1;
    }
    if (!tryFirst) {
      pollfd p[2] = {{FSocket, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
      const int ready = poll(p, FWakeFd >= 0 ? 2 : 1, RemainingMs(DeadlineMs));
      if (ready < 0) {
        if (errno == EINTR) continue;
        FailErrno(errno);
        return -1;
      }
      if (ready == 0) {
        Fail(WSAETIMEDOUT);
        return -1;
      }
      if (!(p[0].revents & (POLLIN | POLLERR | POLLNVAL))) {
        uint64_t wakeups;
        [[maybe_unused]] ssize_t r = read(FWakeFd, &wakeups, sizeof wakeups);
        rewake.Pending = true;
        continue;
      }
    }
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(FSocket, FRecvBuf.get(), RecvBufSize, MSG_DONTWAIT | MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (tryFirst && DeadlineMs <= NowMs()) {
          Fail(WSAETIMEDOUT);
          return -1;
        }
        tryFirst = false;
        continue;
      }
      FailErrno(errno);
      return -1;
    }
    if (len >= sizeof from && from.sin_family == AF_INET) {
      FRemoteSin = from;
      FHasRemote = true;
    }
    if (static_cast<size_t>(n) > RecvBufSize) {
      // Cannot happen over IPv4; refuse rather than hand out a cut datagram.
      Fail(WSAEMSGSIZE);
      return -1;
    }
    return n;
  }
}

bool TUDPBlockSocket::ReceiveNext(int Timeout, std::string_view& Data) {
  Data = {};
  if (FSocket < 0) {
    Fail(WSAENOTSOCK);
    return false;
  }
  const ssize_t n = ReceiveDatagram(DeadlineAfter(Timeout));
  if (n < 0) return false;
  SetOK();
  Data = std::string_view(FRecvBuf.get(), static_cast<size_t>(n));
  return true;
}

void TUDPBlockSocket::SetRemoteSin(const sockaddr_in& Sin) {
  FRemoteSin = Sin;
  FHasRemote = true;
}

int TUDPBlockSocket::SetRecvBufferSize(int Bytes) {
  if (FSocket < 0) return 0;
  setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &Bytes, sizeof Bytes);
  int granted = 0;
  socklen_t len = sizeof granted;
  if (getsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) return 0;
  return granted / 2;  // Linux reports twice the size, counting its own bookkeeping
}

int64_t TUDPBlockSocket::WaitingBytes() const {
  if (FSocket < 0) return 0;
  uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof info;
  if (getsockopt(FSocket, SOL_SOCKET, SO_MEMINFO, info, &len) != 0 ||
      len <= SK_MEMINFO_RMEM_ALLOC * sizeof info[0])
    return 0;
  return info[SK_MEMINFO_RMEM_ALLOC];
}

RawByteString TUDPBlockSocket::RecvPacket(int Timeout) {
  if (!FHeld.Empty()) {
    SetOK();
    return FHeld.TakeAll();
  }
  FHeld.ForgetPendingLF();
  if (FSocket < 0) {
    Fail(WSAENOTSOCK);
    return {};
  }
  const ssize_t n = ReceiveDatagram(DeadlineAfter(Timeout));
  if (n < 0) return {};
  SetOK();
  return RawByteString(FRecvBuf.get(), static_cast<size_t>(n));
}

template <class TakePiece>
RawByteString TUDPBlockSocket::RecvPiece(int Timeout, TakePiece take) {
  const int64_t deadline = DeadlineAfter(Timeout);
  FHeld.RestartScan();
  for (;;) {
    RawByteString piece;
    if (take(piece)) {
      SetOK();
      return piece;
    }
    if (FHeld.Size() > MaxHeldBytes) {
      FHeld.Clear();
      Fail(WSAEMSGSIZE);
      return {};
    }
    if (FSocket < 0) {
      FHeld.Clear();
      Fail(WSAENOTSOCK);
      return {};
    }
    const ssize_t n = ReceiveDatagram(deadline);
    if (n < 0) {
      FHeld.Clear();
      return {};
    }
    FHeld.Append(FRecvBuf.get(), static_cast<size_t>(n));
  }
}

RawByteString TUDPBlockSocket::RecvString(int Timeout) {
  if (ConvertLineEnd) {
    return RecvPiece(Timeout, [this](RawByteString& out) { return FHeld.TakeLine(out); });
  }
  FHeld.ForgetPendingLF();
  return RecvPiece(Timeout,
                   [this](RawByteString& out) { return FHeld.TakeTerminated("\r\n", out); });
}

RawByteString TUDPBlockSocket::RecvTerminated(int Timeout, const RawByteString& Terminator) {
  if (Terminator.empty()) {
    Fail(WSAEINVAL);
    return {};
  }
  FHeld.ForgetPendingLF();
  const std::string_view terminator = Terminator.Bytes();
  return RecvPiece(Timeout, [this, terminator](RawByteString& out) {
    return FHeld.TakeTerminated(terminator, out);
  });
}

void TUDPBlockSocket::ResetLineBuffer() {
  FHeld.Clear();
}

// ---------------------------------------------------------------------------------------------
// Waiting

bool TUDPBlockSocket::CanRead(int Timeout) {
  if (FSocket < 0) {
    Fail(WSAENOTSOCK);
    return false;
  }
  const int64_t deadline = DeadlineAfter(Timeout);
  for (;;) {
    pollfd p[2] = {{FSocket, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    const nfds_t count = FWakeFd >= 0 ? 2 : 1;
    const int ready = poll(p, count, RemainingMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      FailErrno(errno);
      return false;
    }
    if (ready == 0) {
      SetOK();
      return false;
    }
    if (p[0].revents & POLLNVAL) {
      Fail(WSAENOTSOCK);
      return false;
    }
    if (p[0].revents & (POLLIN | POLLERR)) {
      if (!(ConvertLineEnd && FHeld.PendingLF())) {
        SetOK();
        return true;
      }
      // The datagram may be nothing but the LF of a CR LF whose CR already ended a line; such a
      // datagram is no data, and reporting it would send the caller into a read that must wait
      // for its whole time-out.
      const ssize_t n = ReceiveDatagram(NowMs());
      if (n < 0) {
        if (FLastError == WSAETIMEDOUT) continue;
        return false;
      }
      FHeld.Append(FRecvBuf.get(), static_cast<size_t>(n));
      if (!FHeld.Empty()) {
        SetOK();
        return true;
      }
      continue;
    }
    if (count == 2 && (p[1].revents & POLLIN)) {
      uint64_t wakeups;
      [[maybe_unused]] ssize_t r = read(FWakeFd, &wakeups, sizeof wakeups);
      SetOK();
      return false;
    }
    // Nothing this loop knows how to wait on further (an unexpected event): end the wait rather
    // than spin.
    SetOK();
    return false;
  }
}

bool TUDPBlockSocket::CanReadEx(int Timeout) {
  if (!FHeld.Empty()) {
    SetOK();
    return true;
  }
  return CanRead(Timeout);
}

void TUDPBlockSocket::Abort() {
  FAborted = true;
  WakeUp();
}

void TUDPBlockSocket::WakeUp() {
  if (FWakeFd < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t r = write(FWakeFd, &one, sizeof one);
}
