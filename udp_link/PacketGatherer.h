// Cuts what one socket receives into packets by a receive line end, as the component's threads
// hand them to the application: whole datagrams when the line end is empty, else lines (CR, LF
// or CR LF when it is CR or CR LF) or pieces ending in it, joined with it while more follow
// within the join window. Each sender's unfinished line waits in a buffer of its own, so that
// another sender's datagram in between cannot spoil it; a packet comes from one sender only,
// holds at most MaxPacketBytes, and a line longer than MaxLineBytes is dropped through its end.
// Allocates nothing once warm.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <qx/net/RecvBuffer.h>
#include <qx/net/blcksock.h>
#include <qx/udp_link/PacketPreference.h>

class TPacketGatherer {
 public:
  // A few datagrams' worth: plenty for a text protocol, small enough that a flood cannot make
  // the hex form and conversions of one packet costly.
  static constexpr size_t MaxPacketBytes = 64 * 1024;
  static constexpr size_t MaxLineBytes = MaxPacketBytes;
  static constexpr int JoinWindowMs = 10;
  // No packet takes longer than this to gather, however its sender paces it.
  static constexpr int BudgetMs = 5000;
  // How long a line (CR or CR LF) may take to complete, whatever read time-out is given.
  static constexpr int32_t LineReadMs = 5000;
  // Senders whose unfinished lines are held at once. A new one takes the place of the stranger
  // heard least recently; the preferred sender's line is never given up for a stranger's.
  static constexpr size_t MaxSenders = 32;

  // Datagrams taken off the socket at once, at most: enough that a flood is handed on in runs,
  // few enough that one run of packets keeps the main thread's other work waiting only briefly.
  static constexpr size_t MaxQueued = 64;
  static constexpr size_t MaxQueuedBytes = 64 * 1024;

  // While more than one sender is talking, a backlog on the socket of more kernel memory than
  // this means one of them sends faster than packets are taken, and the others' packets would
  // wait behind it. The whole backlog is then read at once (at most MaxDrained datagrams), and
  // what does not fit the queue is dropped from the sender that holds most of it: the others'
  // datagrams are kept and wait behind one queue at most. A sender alone keeps the kernel's
  // whole buffer for its bursts.
  // With a preferred sender named, the backlog is read whenever it is more than the queue holds
  // (and before each datagram is taken), and the preferred sender's datagrams go ahead of every
  // other: a crowd of strangers, each sending little, can neither delay nor crowd it out.
  static constexpr int64_t OverloadBytes = 1 << 20;
  // Senders count as talking together for this long after the socket last heard two in turn.
  static constexpr int MixedWindowMs = 10000;
  static constexpr size_t MaxDrained = 8192;

  // Unless data already waits, receives the datagrams already queued on the socket (no waiting),
  // up to the bounds above, and the whole backlog under a flood. True when data waits to be
  // gathered.
  bool Poll(TUDPBlockSocket& sock);
  // Datagrams the flood rule dropped so far.
  uint64_t Dropped() const { return FDropped; }
  void SetOverloadBytes(int64_t bytes) { FOverloadBytes = bytes; }
  // How long a line may take to complete (LineReadMs unless set).
  void SetLineReadMs(int32_t ms) { FLineReadMs = ms; }
  // The sender kept first, by its IPv4 address (network order, any port); 0 names none. With
  // `prefer`, it decides for each datagram instead, and a datagram it prefers also ends its
  // sender's unfinished line: bytes sent ahead of a line that proves itself are not its own.
  void SetPreferred(uint32_t addr, IQxUDPSPreference* prefer = nullptr);
  // Data already received waits to be gathered (no system call needed).
  bool Pending() const { return FQueue.Count() > 0 || FHasCarry; }
  // Some sender's unfinished line is held, waiting for its end.
  bool Holding() const;

  // Gathers the next packet by line end L. Lines take only what has arrived already: false when
  // no complete packet is there yet; a datagram is waited for up to readTimeout ms (false when
  // none comes; the socket's LastError says why). An empty packet is possible (an empty line or
  // datagram). Once a packet has begun, its sender's next complete pieces are joined to it
  // within the join window; an unfinished piece never holds the packet up but stays in its
  // sender's buffer for a later one, for up to readTimeout ms from its first byte (LineReadMs for
  // lines), and is dropped (and noted) once that time has passed. A set `stop` ends the joining.
  bool Gather(TUDPBlockSocket& sock, const RawByteString& L, int32_t readTimeout,
              const std::atomic<bool>* stop);
  std::string_view Packet() const { return FPacket; }
  const sockaddr_in& Sender() const { return FPacketFrom; }

  // Takes a datagram back that was gathered whole and not handed on: it is gathered again
  // before everything else, so that what is taken back, last first, keeps its order.
  void Requeue(std::string_view data, const sockaddr_in& from) { FQueue.PushFront(data, from); }

  // Drops everything held (the socket is being closed).
  void Reset();

  // Why an unfinished line was dropped.
  enum class TLineDrop {
    NoEnd,    // its end did not come within the line's time (LineReadMs, or the read time-out)
    TooLong,  // MaxLineBytes went by without its end
    TooMany,  // more senders held unfinished lines than MaxSenders
  };
  // Unfinished lines dropped since they were last taken, summed per sender and reason.
  struct TDroppedLine {
    sockaddr_in From{};
    TLineDrop Why = TLineDrop::NoEnd;
    size_t Lines = 0, Bytes = 0;
  };
  // Drops every unfinished line whose time is up, even when its sender says nothing more, so
  // that each one dropped is reported about when its time ends.
  void ExpireLines();
  // The drops noted since the last call, oldest first; at most MaxSenders senders and reasons
  // apart, the rest summed up in the last entry.
  std::vector<TDroppedLine> TakeDroppedLines();
  bool HasDroppedLines() const { return !FDroppedLines.empty(); }
  // How long a line waits for its end in the mode gathered last, in milliseconds.
  int32_t LineWaitMs() const { return FReadTimeout; }
  // The reason as the application is told it: "no line end within 5 s".
  static std::string DropReason(TLineDrop why, int32_t waitMs);

 private:
  // One sender's bytes not yet cut.
  struct TLine {
    sockaddr_in From{};
    TRecvBuffer Held;
    int64_t StartedMs = 0;  // when the unfinished piece's first byte came
    int64_t HeardMs = 0;
    bool Discarding = false;  // an over-long line is being dropped through its end
    bool Idle() const { return Held.Empty() && !Held.PendingLF() && !Discarding; }
  };
  bool IsPreferred(const sockaddr_in& from) const {
    return FPreferred != 0 && from.sin_addr.s_addr == FPreferred;
  }
  bool IsPreferred(std::string_view data, const sockaddr_in& from) const {
    return FPrefer != nullptr ? FPrefer->Prefer(data, from) : IsPreferred(from);
  }

  // Several senders are talking and one of them is preferred; or a preference by content is set.
  bool Contested() const;
  TLine* LineOf(const sockaddr_in& from);
  // The sender's line, made (in place of an idle line or the least recently heard stranger's)
  // when it has none.
  TLine& LineFor(const sockaddr_in& from);
  // Adds a datagram to its sender's line, less what belongs to a line being dropped; a piece
  // that ran out of time is dropped first.
  TLine& Accept(std::string_view data, const sockaddr_in& from);
  bool TakePiece(TLine& line, std::string_view& piece);
  // A line with no end in sight past MaxLineBytes: dropped through its end. True when so.
  bool DropIfOverlong(TLine& line);
  // The packet's first piece, from what has arrived already.
  bool FirstPiece(TUDPBlockSocket& sock, const std::atomic<bool>* stop, std::string_view& piece);
  // Waits until deadlineMs for held bytes of the packet's sender; false at the end of the
  // window, or when another sender's datagram (kept for the next packet) ends the packet.
  bool JoinWait(TUDPBlockSocket& sock, int64_t deadlineMs);
  // The next datagram: the queued one, else from the socket within the deadline.
  bool NextDatagram(TUDPBlockSocket& sock, int64_t deadlineMs, std::string_view& data,
                    sockaddr_in& from);
  // Keeps the datagram NextDatagram gave last for the next packet: it is the queue's front again.
  void PutBack(std::string_view data, const sockaddr_in& from);
  bool GatherWhole(TUDPBlockSocket& sock, int32_t readTimeout);
  void DropLines();
  // Drops a line's unfinished bytes and notes why.
  void DropUnfinished(TLine& line, TLineDrop why);

  bool FLineMode = false;
  std::string FTerminator;  // the line end, outside line mode
  int32_t FReadTimeout = 0;
  int32_t FLineReadMs = LineReadMs;
  uint32_t FPreferred = 0;
  IQxUDPSPreference* FPrefer = nullptr;

  // Reserved once: a line's place never moves.
  std::vector<TLine> FLines;
  bool FMayHold = false;  // some line may hold bytes (datagram mode drops them once)
  // Datagrams received and not yet gathered, in arrival order but for the preferred sender's,
  // which go ahead of the others' (behind any taken back).
  class TQueue {
   public:
    size_t Count() const { return FItems.size() - FHead; }
    bool Full() const { return Count() >= MaxQueued || FLive >= MaxQueuedBytes; }
    void Push(std::string_view data, const sockaddr_in& from, bool preferred);
    // Push for a full queue. A preferred datagram takes the place of the newest other one. Any
    // other takes the place of the newest one of the sender with the most queued, unless its own
    // sender is (nearly) that one; else it is dropped.
    void PushFair(std::string_view data, const sockaddr_in& from, bool preferred);
    void PushFront(std::string_view data, const sockaddr_in& from);
    // The front datagram; its bytes stay valid until the next Push or Clear.
    void Pop(std::string_view& data, sockaddr_in& from);
    // Takes back the datagram Pop returned last, so that it is the front again.
    void Unpop();
    void Clear();
    // Puts the datagrams of `addr` (network order; 0: none) ahead of the others, each side in
    // its order: the preferred sender has changed.
    void Favour(uint32_t addr);

   private:
    struct TItem {
      size_t Offset, Size;
      sockaddr_in From;
    };
    // Moves the queued datagrams' bytes to the front, closing the gaps evictions left.
    void Compact();
    void Evict(size_t index);
    std::string FBytes, FSpare;
    std::vector<TItem> FItems;
    size_t FHead = 0;
    size_t FLive = 0;  // bytes of the queued datagrams, gaps not counted
    // Datagrams ahead of the others: the preferred sender's and those taken back.
    size_t FFront = 0;
    bool FPopFront = false;  // the datagram popped last was one of them
    // The sender that holds most of the others' part of the queue, while the queue is
    // unchanged: found once for a whole run of datagrams dropped from a full queue.
    bool FHeavyKnown = false;
    size_t FMost = 0, FHeaviest = 0;  // its count and its newest datagram
    // A sender that is (nearly) the heaviest: its datagrams are dropped without counting again.
    bool FFloodKnown = false;
    sockaddr_in FFlood{};
  };
  void Drain(TUDPBlockSocket& sock);
  // Notes the sender of a datagram just read from the socket.
  void Heard(const sockaddr_in& from);
  int64_t FOverloadBytes = OverloadBytes;
  bool FHeardAny = false;
  sockaddr_in FLastFrom{};
  int64_t FMixedAtMs = -MixedWindowMs;
  uint64_t FDropped = 0;
  TQueue FQueue;
  // The datagram read last came from the queue, so that PutBack can take it back there.
  bool FFromQueue = false;
  // A complete piece that did not fit into the last packet: it begins the next one.
  bool FHasCarry = false;
  std::string FCarry;
  sockaddr_in FCarryFrom{};

  std::vector<TDroppedLine> FDroppedLines;  // reserved once, MaxSenders at most

  std::string FPacket;
  sockaddr_in FPacketFrom{};
  int FPieces = 0;  // pieces in FPacket (an empty line counts)
};
