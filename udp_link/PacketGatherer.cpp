#include <qx/udp_link/PacketGatherer.h>

#include <algorithm>
#include <chrono>

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int LeftMs(int64_t deadlineMs) {
  return static_cast<int>(std::max<int64_t>(deadlineMs - NowMs(), 0));
}

bool SameSender(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

void TPacketGatherer::TQueue::Push(std::string_view data, const sockaddr_in& from) {
  // Storage is reused from its start once everything is taken, so it stays within the bounds.
  if (Count() == 0) Clear();
  if (FBytes.size() - FLive > MaxQueuedBytes / 4) Compact();
  FItems.push_back({FBytes.size(), data.size(), from});
  FBytes.append(data);
  FLive += data.size();
  FFloodKnown = false;
}

void TPacketGatherer::TQueue::PushFair(std::string_view data, const sockaddr_in& from) {
  if (FFloodKnown && SameSender(from, FFlood)) return;
  size_t mine = 0, most = 0, heaviest = 0;
  for (size_t i = FHead; i < FItems.size(); ++i) {
    const sockaddr_in& s = FItems[i].From;
    if (SameSender(s, from)) ++mine;
    size_t n = 0;
    for (size_t j = FHead; j < FItems.size(); ++j) n += SameSender(FItems[j].From, s);
    if (n >= most) {
      most = n;
      heaviest = i;  // the last of the heaviest sender's: its newest
    }
  }
  if (mine + 1 >= most) {
    FFloodKnown = mine == most;
    FFlood = from;
    return;
  }
  FLive -= FItems[heaviest].Size;
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(heaviest));
  Push(data, from);
}

void TPacketGatherer::TQueue::Compact() {
  FSpare.clear();
  for (size_t i = FHead; i < FItems.size(); ++i) {
    TItem& item = FItems[i];
    const size_t at = FSpare.size();
    FSpare.append(FBytes, item.Offset, item.Size);
    item.Offset = at;
  }
  FItems.erase(FItems.begin(), FItems.begin() + static_cast<std::ptrdiff_t>(FHead));
  FHead = 0;
  FBytes.swap(FSpare);
}

void TPacketGatherer::TQueue::Pop(std::string_view& data, sockaddr_in& from) {
  const TItem& item = FItems[FHead++];
  data = std::string_view(FBytes).substr(item.Offset, item.Size);
  from = item.From;
  FLive -= item.Size;
  FFloodKnown = false;
}

void TPacketGatherer::TQueue::Unpop() {
  FLive += FItems[--FHead].Size;
  FFloodKnown = false;
}

void TPacketGatherer::TQueue::Clear() {
  FBytes.clear();
  FItems.clear();
  FHead = 0;
  FLive = 0;
  FFloodKnown = false;
}

bool TPacketGatherer::Poll(TUDPBlockSocket& sock) {
  if (Pending()) return true;
  FQueue.Clear();  // what was taken last is consumed by now
  std::string_view data;
  while (!FQueue.Full() && sock.ReceiveNext(0, data)) {
    Heard(sock.RemoteSin());
    FQueue.Push(data, sock.RemoteSin());
  }
  if (FQueue.Full() && NowMs() - FMixedAtMs < MixedWindowMs && sock.WaitingBytes() > FOverloadBytes)
    Drain(sock);
  return FQueue.Count() > 0;
}

void TPacketGatherer::Heard(const sockaddr_in& from) {
  if (FHeardAny && SameSender(from, FLastFrom)) return;
  if (FHeardAny) FMixedAtMs = NowMs();
  FHeardAny = true;
  FLastFrom = from;
}

void TPacketGatherer::Drain(TUDPBlockSocket& sock) {
  std::string_view data;
  for (size_t n = 0; n < MaxDrained && sock.ReceiveNext(0, data); ++n) {
    Heard(sock.RemoteSin());
    if (!FQueue.Full()) {
      FQueue.Push(data, sock.RemoteSin());
      continue;
    }
    FQueue.PushFair(data, sock.RemoteSin());
    ++FDropped;  // this datagram or the one it replaced
  }
}

void TPacketGatherer::Reset() {
  FHeld.Clear();
  FQueue.Clear();
  FHasCarry = FDiscarding = FHeardAny = false;
  FMixedAtMs = -MixedWindowMs;
  FPacket.clear();
  FPieces = 0;
}

bool TPacketGatherer::NextDatagram(TUDPBlockSocket& sock, int64_t deadlineMs,
                                   std::string_view& data, sockaddr_in& from) {
  FFromQueue = FQueue.Count() > 0;
  if (FFromQueue) {
    FQueue.Pop(data, from);
    return true;
  }
  if (!sock.ReceiveNext(LeftMs(deadlineMs), data)) return false;
  from = sock.RemoteSin();
  Heard(from);
  return true;
}

void TPacketGatherer::PutBack(std::string_view data, const sockaddr_in& from) {
  if (FFromQueue)
    FQueue.Unpop();
  else
    FQueue.Push(data, from);  // read from the socket, so the queue is empty
}

bool TPacketGatherer::TakePiece(std::string_view& piece) {
  return FLineMode ? FHeld.TakeLine(piece) : FHeld.TakeTerminated(FTerminator, piece);
}

void TPacketGatherer::Accept(std::string_view data, const sockaddr_in& from) {
  if (FHeld.Empty()) FHeldFrom = from;
  FHeld.Append(data.data(), data.size());
  if (!FDiscarding || !SameSender(from, FDiscardFrom)) return;
  std::string_view dropped;
  if (TakePiece(dropped)) {
    FDiscarding = false;  // the over-long line ended here; what follows is new
  } else {
    // Keep only what may be the start of a terminator that the next datagram completes.
    FHeld.KeepTail(FLineMode ? 0 : FTerminator.size() - 1);
  }
}

TPacketGatherer::TRead TPacketGatherer::ReadPiece(TUDPBlockSocket& sock, int64_t deadlineMs,
                                                  std::string_view& piece) {
  for (;;) {
    if (TakePiece(piece)) return TRead::Piece;
    if (FHeld.Size() > MaxLineBytes) {
      // Nothing of this line may reach a packet: drop it through its end, however it comes.
      FDiscarding = true;
      FDiscardFrom = FHeldFrom;
      FHeld.Clear();
      return TRead::Failed;
    }
    std::string_view data;
    sockaddr_in from;
    if (!NextDatagram(sock, deadlineMs, data, from)) {
      FHeld.Clear();  // an unfinished piece is dropped
      return TRead::Failed;
    }
    const bool held = !FHeld.Empty();
    const sockaddr_in& gathering = FPieces > 0 ? FPacketFrom : FHeldFrom;
    if ((FPieces > 0 || held) && !SameSender(from, gathering)) {
      // Another sender: what this one left unfinished is dropped.
      FHeld.Clear();
      if (FPieces > 0) {
        PutBack(data, from);
        return TRead::OtherSender;
      }
    }
    Accept(data, from);
  }
}

bool TPacketGatherer::JoinWait(TUDPBlockSocket& sock, int64_t deadlineMs) {
  while (FHeld.Empty()) {
    std::string_view data;
    sockaddr_in from;
    if (!NextDatagram(sock, deadlineMs, data, from)) return false;
    if (!SameSender(from, FPacketFrom)) {
      PutBack(data, from);
      return false;
    }
    // A datagram may add nothing: the LF of a CR LF already taken, or the rest of a dropped line.
    Accept(data, from);
  }
  return true;
}

bool TPacketGatherer::GatherWhole(TUDPBlockSocket& sock, int32_t readTimeout) {
  FDiscarding = false;
  if (FHasCarry) {
    FHasCarry = false;
    FPacket.assign(FCarry);
    FPacketFrom = FCarryFrom;
    return true;
  }
  if (!FHeld.Empty()) {
    // Bytes held from line reading come first, as they are.
    FPacket.assign(FHeld.TakeAllView());
    FPacketFrom = FHeldFrom;
    return true;
  }
  FHeld.ForgetPendingLF();
  std::string_view data;
  if (!NextDatagram(sock, NowMs() + std::max(readTimeout, 0), data, FPacketFrom)) return false;
  FPacket.assign(data);
  return true;
}

bool TPacketGatherer::Gather(TUDPBlockSocket& sock, const RawByteString& L, int32_t readTimeout,
                             const std::atomic<bool>* stop) {
  FPacket.clear();
  FPieces = 0;
  if (L.empty()) return GatherWhole(sock, readTimeout);
  const std::string_view terminator = L.Bytes();
  FLineMode = terminator == "\r" || terminator == "\r\n";
  if (!FLineMode && terminator != FTerminator) {
    FTerminator.assign(terminator);
    FHeld.RestartScan();
  }
  if (FLineMode) FHeld.RestartScan();

  const int64_t deadline = NowMs() + BudgetMs;
  std::string_view piece;
  if (FHasCarry) {
    FHasCarry = false;
    FPacket.assign(FCarry);
    FPacketFrom = FCarryFrom;
  } else {
    const int64_t firstDeadline = NowMs() + std::min(std::max(readTimeout, 0), BudgetMs);
    if (ReadPiece(sock, firstDeadline, piece) != TRead::Piece) return false;
    FPacketFrom = FHeldFrom;
    FPacket.assign(piece);
  }
  FPieces = 1;

  while (!(stop && *stop)) {
    if (!JoinWait(sock, NowMs() + JoinWindowMs)) break;
    const int64_t left = deadline - NowMs();
    if (left <= 0) {
      // A peer that never lets the packet end: what is complete goes out, the rest is dropped.
      FHeld.Clear();
      break;
    }
    if (ReadPiece(sock, NowMs() + std::min<int64_t>(readTimeout, left), piece) != TRead::Piece)
      break;  // an unfinished piece is dropped, the complete ones are kept
    if (FPacket.size() + terminator.size() + piece.size() > MaxPacketBytes) {
      FCarry.assign(piece);
      FCarryFrom = FPacketFrom;
      FHasCarry = true;
      break;
    }
    FPacket.append(terminator);
    FPacket.append(piece);
    ++FPieces;
  }
  return true;
}
