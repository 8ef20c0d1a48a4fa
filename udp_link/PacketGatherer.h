// Cuts what one socket receives into packets by a receive line end, as the component's threads
// hand them to the application: whole datagrams when the line end is empty, else lines (CR, LF
// or CR LF when it is CR or CR LF) or pieces ending in it, joined with it while more follow
// within the join window. A packet comes from one sender only, holds at most MaxPacketBytes, and
// a line longer than MaxLineBytes is dropped through its end. Allocates nothing once warm.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/RecvBuffer.h"
#include "net/blcksock.h"

class TPacketGatherer {
 public:
  // A few datagrams' worth: plenty for a text protocol, small enough that a flood cannot make
  // the hex form and conversions of one packet costly.
  static constexpr size_t MaxPacketBytes = 64 * 1024;
  static constexpr size_t MaxLineBytes = MaxPacketBytes;
  static constexpr int JoinWindowMs = 10;
  // No packet takes longer than this to gather, however its sender paces it.
  static constexpr int BudgetMs = 5000;

  // Receives a datagram if one is already queued (no waiting). True when data waits to be
  // gathered. Call Gather before the socket reads again: the datagram stays in its buffer.
  bool Poll(TUDPBlockSocket& sock);
  // Data already received waits to be gathered (no system call needed).
  bool Pending() const { return FHasStash || FHasCarry; }

  // Gathers the next packet by line end L, each read waiting at most readTimeout ms for its
  // piece to complete. False when nothing could be read (the socket's LastError says why); an
  // empty packet is possible (an empty line or datagram). A set `stop` ends the joining.
  bool Gather(TUDPBlockSocket& sock, const RawByteString& L, int32_t readTimeout,
              const std::atomic<bool>* stop);
  std::string_view Packet() const { return FPacket; }
  const sockaddr_in& Sender() const { return FPacketFrom; }

  // Drops everything held (the socket is being closed).
  void Reset();

 private:
  enum class TRead { Piece, Failed, OtherSender };
  TRead ReadPiece(TUDPBlockSocket& sock, int64_t deadlineMs, std::string_view& piece);
  // Waits until deadlineMs for held bytes of the packet's sender; false at the end of the
  // window, or when another sender's datagram (kept for the next packet) ends the packet.
  bool JoinWait(TUDPBlockSocket& sock, int64_t deadlineMs);
  // The next datagram: the kept one, else from the socket within the deadline.
  bool NextDatagram(TUDPBlockSocket& sock, int64_t deadlineMs, std::string_view& data,
                    sockaddr_in& from);
  // Holds a datagram of the gathering sender, less what belongs to a line being dropped.
  void Accept(std::string_view data, const sockaddr_in& from);
  bool TakePiece(std::string_view& piece);
  bool GatherWhole(TUDPBlockSocket& sock, int32_t readTimeout);

  bool FLineMode = false;
  std::string FTerminator;  // the line end, outside line mode

  TRecvBuffer FHeld;  // bytes of FHeldFrom not yet cut
  sockaddr_in FHeldFrom{};
  // A datagram received and not yet gathered, still in the socket's buffer.
  bool FHasStash = false;
  std::string_view FStash;
  sockaddr_in FStashFrom{};
  // A complete piece that did not fit into the last packet: it begins the next one.
  bool FHasCarry = false;
  std::string FCarry;
  sockaddr_in FCarryFrom{};
  // The sender whose over-long line is being dropped through its end.
  bool FDiscarding = false;
  sockaddr_in FDiscardFrom{};

  std::string FPacket;
  sockaddr_in FPacketFrom{};
  int FPieces = 0;  // pieces in FPacket (an empty line counts)
};
