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

void TPacketGatherer::TQueue::Push(std::string_view data, const sockaddr_in& from, bool preferred) {
  // Storage is reused from its start once everything is taken, so it stays within the bounds.
  if (Count() == 0) Clear();
  if (FHead >= MaxQueued || FBytes.size() - FLive > MaxQueuedBytes / 4) Compact();
  const TItem item{FBytes.size(), data.size(), from};
  FBytes.append(data);
  FLive += data.size();
  if (preferred) {
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(FHead + FFront), item);
    ++FFront;
  } else {
    FItems.push_back(item);
  }
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::TQueue::PushFront(std::string_view data, const sockaddr_in& from) {
  if (Count() == 0) Clear();
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(FHead),
                TItem{FBytes.size(), data.size(), from});
  FBytes.append(data);
  FLive += data.size();
  ++FFront;
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::TQueue::Evict(size_t index) {
  FLive -= FItems[index].Size;
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::TQueue::PushFair(std::string_view data, const sockaddr_in& from,
                                       bool preferred) {
  const size_t others = FHead + FFront;  // where the others' datagrams begin
  if (preferred) {
    if (Count() == FFront) return;  // nothing queued that it may take the place of
    Evict(FItems.size() - 1);
    Push(data, from, true);
    return;
  }
  if (FFloodKnown && SameSender(from, FFlood)) return;
  if (!FHeavyKnown) {
    FMost = 0;
    for (size_t i = others; i < FItems.size(); ++i) {
      size_t n = 0;
      for (size_t j = others; j < FItems.size(); ++j)
        n += SameSender(FItems[j].From, FItems[i].From);
      if (n >= FMost) {
        FMost = n;
        FHeaviest = i;  // the last of the heaviest sender's: its newest
      }
    }
    FHeavyKnown = true;
  }
  size_t mine = 0;
  for (size_t i = others; i < FItems.size(); ++i) mine += SameSender(FItems[i].From, from);
  if (mine + 1 >= FMost) {
    FFloodKnown = mine == FMost;
    FFlood = from;
    return;
  }
  Evict(FHeaviest);
  Push(data, from, false);
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
  FHeavyKnown = false;
}

void TPacketGatherer::TQueue::Pop(std::string_view& data, sockaddr_in& from) {
  const TItem& item = FItems[FHead++];
  data = std::string_view(FBytes).substr(item.Offset, item.Size);
  from = item.From;
  FLive -= item.Size;
  FPopFront = FFront > 0;
  if (FPopFront) --FFront;
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::TQueue::Unpop() {
  FLive += FItems[--FHead].Size;
  if (FPopFront) ++FFront;
  FPopFront = false;
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::TQueue::Clear() {
  FBytes.clear();
  FItems.clear();
  FHead = 0;
  FLive = 0;
  FFront = 0;
  FPopFront = false;
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::TQueue::Favour(uint32_t addr) {
  const auto begin = FItems.begin() + static_cast<std::ptrdiff_t>(FHead);
  const auto end = std::stable_partition(begin, FItems.end(), [addr](const TItem& item) {
    return addr != 0 && item.From.sin_addr.s_addr == addr;
  });
  FFront = static_cast<size_t>(end - begin);
  FPopFront = false;
  FHeavyKnown = FFloodKnown = false;
}

void TPacketGatherer::SetPreferred(uint32_t addr, IQxUDPSPreference* prefer) {
  if (addr == FPreferred && prefer == FPrefer) return;
  FPreferred = addr;
  FPrefer = prefer;
  // Its datagrams already queued go first too, so that they stay ahead of its later ones. (A
  // preference by content takes over from the next datagram on.)
  FQueue.Favour(prefer == nullptr ? addr : 0);
}

bool TPacketGatherer::Contested() const {
  // A preference by content cannot go by who is talking: a forger may share the peer's address
  // and port, and then only the content tells them apart.
  return FPrefer != nullptr || (FPreferred != 0 && NowMs() - FMixedAtMs < MixedWindowMs);
}

bool TPacketGatherer::Poll(TUDPBlockSocket& sock) {
  if (Pending()) return true;
  FQueue.Clear();  // what was taken last is consumed by now
  std::string_view data;
  while (!FQueue.Full() && sock.ReceiveNext(0, data)) {
    Heard(sock.RemoteSin());
    FQueue.Push(data, sock.RemoteSin(), IsPreferred(data, sock.RemoteSin()));
  }
  if (FQueue.Full() && (Contested() || (NowMs() - FMixedAtMs < MixedWindowMs &&
                                        sock.WaitingBytes() > FOverloadBytes)))
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
    const sockaddr_in& from = sock.RemoteSin();
    Heard(from);
    const bool preferred = IsPreferred(data, from);
    if (!FQueue.Full()) {
      FQueue.Push(data, from, preferred);
      continue;
    }
    FQueue.PushFair(data, from, preferred);
    ++FDropped;  // this datagram or the one it replaced
  }
}

bool TPacketGatherer::Holding() const {
  return std::any_of(FLines.begin(), FLines.end(), [](const TLine& l) { return !l.Idle(); });
}

void TPacketGatherer::DropLines() {
  for (TLine& l : FLines) {
    l.Held.Clear();
    l.Discarding = false;
  }
  FMayHold = false;
}

void TPacketGatherer::DropUnfinished(TLine& line, TLineDrop why) {
  const size_t bytes = line.Held.Size();
  line.Held.Clear();
  if (bytes == 0) return;
  if (FDroppedLines.capacity() < MaxSenders) FDroppedLines.reserve(MaxSenders);
  for (TDroppedLine& d : FDroppedLines)
    if (SameSender(d.From, line.From) && d.Why == why) {
      ++d.Lines;
      d.Bytes += bytes;
      return;
    }
  if (FDroppedLines.size() == MaxSenders) {
    // Past that many, the last entry sums up every further sender (its address is 0.0.0.0).
    TDroppedLine& rest = FDroppedLines.back();
    rest.From = sockaddr_in{};
    ++rest.Lines;
    rest.Bytes += bytes;
    return;
  }
  FDroppedLines.push_back({line.From, why, 1, bytes});
}

std::string TPacketGatherer::DropReason(TLineDrop why, int32_t waitMs) {
  switch (why) {
    case TLineDrop::NoEnd:
      return "no line end within " + (waitMs % 1000 == 0 ? std::to_string(waitMs / 1000) + " s"
                                                         : std::to_string(waitMs) + " ms");
    case TLineDrop::TooLong:
      return "no line end within " + std::to_string(MaxLineBytes) + " bytes";
    case TLineDrop::TooMany:
      return "more than " + std::to_string(MaxSenders) + " senders with unfinished lines";
  }
  return "";
}

void TPacketGatherer::ExpireLines() {
  if (!FMayHold) return;
  const int64_t now = NowMs();
  for (TLine& l : FLines)
    if (!l.Held.Empty() && now - l.StartedMs > FReadTimeout) DropUnfinished(l, TLineDrop::NoEnd);
}

std::vector<TPacketGatherer::TDroppedLine> TPacketGatherer::TakeDroppedLines() {
  std::vector<TDroppedLine> out(FDroppedLines.begin(), FDroppedLines.end());
  FDroppedLines.clear();
  return out;
}

void TPacketGatherer::Reset() {
  DropLines();
  FQueue.Clear();
  FHasCarry = FHeardAny = false;
  FMixedAtMs = -MixedWindowMs;
  FPacket.clear();
  FPieces = 0;
}

bool TPacketGatherer::NextDatagram(TUDPBlockSocket& sock, int64_t deadlineMs,
                                   std::string_view& data, sockaddr_in& from) {
  // What came since the queue was filled may hold the preferred sender's datagrams.
  if (Contested()) Drain(sock);
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
    FQueue.Push(data, from, IsPreferred(data, from));  // read from the socket: the queue is empty
}

TPacketGatherer::TLine* TPacketGatherer::LineOf(const sockaddr_in& from) {
  for (TLine& l : FLines)
    if (SameSender(l.From, from)) return &l;
  return nullptr;
}

TPacketGatherer::TLine& TPacketGatherer::LineFor(const sockaddr_in& from) {
  if (FLines.capacity() < MaxSenders) FLines.reserve(MaxSenders);
  TLine *idle = nullptr, *stranger = nullptr, *oldest = nullptr;
  for (TLine& l : FLines) {
    if (SameSender(l.From, from)) return l;
    if (l.Idle()) {
      if (idle == nullptr) idle = &l;
      continue;
    }
    if (oldest == nullptr || l.HeardMs < oldest->HeardMs) oldest = &l;
    if (!IsPreferred(l.From) && (stranger == nullptr || l.HeardMs < stranger->HeardMs))
      stranger = &l;
  }
  TLine* line = idle;
  if (line == nullptr && FLines.size() < MaxSenders) line = &FLines.emplace_back();
  // Every place taken: the stranger heard least recently gives up its line.
  if (line == nullptr) line = stranger != nullptr ? stranger : oldest;
  DropUnfinished(*line, TLineDrop::TooMany);
  line->Discarding = false;
  line->From = from;
  FMayHold = true;
  return *line;
}

bool TPacketGatherer::TakePiece(TLine& line, std::string_view& piece) {
  const bool got =
      FLineMode ? line.Held.TakeLine(piece) : line.Held.TakeTerminated(FTerminator, piece);
  // What is left came with the datagram read last.
  if (got && !line.Held.Empty()) line.StartedMs = line.HeardMs;
  return got;
}

bool TPacketGatherer::DropIfOverlong(TLine& line) {
  if (line.Held.Size() <= MaxLineBytes) return false;
  // Nothing of this line may reach a packet: drop it through its end, however it comes.
  line.Discarding = true;
  DropUnfinished(line, TLineDrop::TooLong);
  return true;
}

TPacketGatherer::TLine& TPacketGatherer::Accept(std::string_view data, const sockaddr_in& from) {
  TLine& line = LineFor(from);
  if (FPrefer != nullptr && !line.Held.Empty() && FPrefer->Prefer(data, from)) {
    line.Held.Clear();
    line.Discarding = false;
  }
  const int64_t now = NowMs();
  if (!line.Held.Empty() && now - line.StartedMs > FReadTimeout)
    DropUnfinished(line, TLineDrop::NoEnd);
  if (line.Held.Empty()) line.StartedMs = now;
  line.HeardMs = now;
  line.Held.Append(data.data(), data.size());
  if (!line.Discarding) return line;
  std::string_view dropped;
  if (TakePiece(line, dropped)) {
    line.Discarding = false;  // the over-long line ended here; what follows is new
  } else {
    // Keep only what may be the start of a terminator that the next datagram completes.
    line.Held.KeepTail(FLineMode ? 0 : FTerminator.size() - 1);
  }
  return line;
}

bool TPacketGatherer::FirstPiece(TUDPBlockSocket& sock, const std::atomic<bool>* stop,
                                 std::string_view& piece) {
  // The last packet's sender may still hold complete pieces (a stop cut its packet short).
  if (TLine* last = LineOf(FPacketFrom); last != nullptr && TakePiece(*last, piece)) return true;
  // Bounded, so that a flood of unfinished lines leaves the thread its other work.
  for (size_t n = 0; n < MaxDrained && !(stop && *stop); ++n) {
    std::string_view data;
    sockaddr_in from;
    if (!NextDatagram(sock, NowMs(), data, from)) return false;
    TLine& line = Accept(data, from);
    if (TakePiece(line, piece)) {
      FPacketFrom = from;
      return true;
    }
    DropIfOverlong(line);
  }
  return false;
}

bool TPacketGatherer::JoinWait(TUDPBlockSocket& sock, int64_t deadlineMs) {
  for (;;) {
    const TLine* line = LineOf(FPacketFrom);
    if (line != nullptr && !line->Held.Empty()) return true;
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
}

bool TPacketGatherer::GatherWhole(TUDPBlockSocket& sock, int32_t readTimeout) {
  // Unfinished lines have no end to wait for once datagrams are whole.
  if (FMayHold) DropLines();
  if (FHasCarry) {
    FHasCarry = false;
    FPacket.assign(FCarry);
    FPacketFrom = FCarryFrom;
    return true;
  }
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
  const bool lineMode = terminator == "\r" || terminator == "\r\n";
  FReadTimeout = std::max(lineMode ? FLineReadMs : readTimeout, 0);
  if (lineMode != FLineMode || (!lineMode && terminator != FTerminator)) {
    FLineMode = lineMode;
    FTerminator.assign(lineMode ? std::string_view() : terminator);
    for (TLine& l : FLines) l.Held.RestartScan();
  }

  const int64_t deadline = NowMs() + BudgetMs;
  std::string_view piece;
  if (FHasCarry) {
    FHasCarry = false;
    FPacket.assign(FCarry);
    FPacketFrom = FCarryFrom;
  } else {
    if (!FirstPiece(sock, stop, piece)) return false;
    FPacket.assign(piece);
  }
  FPieces = 1;

  // A peer that never lets the packet end: what is complete by the deadline goes out.
  while (!(stop && *stop) && NowMs() < deadline) {
    if (!JoinWait(sock, NowMs() + JoinWindowMs)) break;
    TLine& line = *LineOf(FPacketFrom);
    // An unfinished piece waits in its sender's buffer for a later packet: a complete line
    // never waits for the end of the one behind it.
    if (!TakePiece(line, piece)) {
      DropIfOverlong(line);
      break;
    }
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
