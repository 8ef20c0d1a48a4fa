// The bytes a socket object has received but not yet handed out, and the cutting of them into
// lines or terminator-ended pieces. No I/O here: the socket appends datagrams and asks for pieces.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <qx/framework/core/System.h>

class TRecvBuffer {
 public:
  // Appends a datagram's bytes. When the last line taken ended in a CR that was the last held
  // byte, a LF leading this datagram is the second half of that CR LF and is dropped.
  void Append(const char* data, size_t size);

  size_t Size() const { return FData.size() - FPos; }
  bool Empty() const { return FPos == FData.size(); }
  std::string_view View() const { return std::string_view(FData).substr(FPos); }

  // Takes the bytes before the first Terminator (not empty) and drops the terminator too. False
  // when the held bytes hold no complete terminator yet; they are then left as they are.
  bool TakeTerminated(std::string_view terminator, RawByteString& out);

  // Takes the next line without its end: CR LF, CR or LF. A CR that is the last held byte ends
  // the line at once and arms the LF drop of Append. False when no line end is held.
  bool TakeLine(RawByteString& out);

  // Takes every held byte.
  RawByteString TakeAll();

  // The same takes without a copy: `out` views the held storage and stays valid until the next
  // Append or Clear.
  bool TakeTerminated(std::string_view terminator, std::string_view& out);
  bool TakeLine(std::string_view& out);
  std::string_view TakeAllView();

  // Drops every held byte but the last `keep` (the start of a terminator that may complete).
  void KeepTail(size_t keep);

  // True while a LF arriving next would complete a CR already taken as a line end.
  bool PendingLF() const { return FPendingLF; }
  void ForgetPendingLF() { FPendingLF = false; }

  // Starts a new search: the bytes already searched by TakeTerminated/TakeLine are searched again.
  // Needed when the caller changes the terminator between calls.
  void RestartScan() { FScanned = 0; }

  // Drops every held byte and the pending LF.
  void Clear();

 private:
  std::string_view TakeFront(size_t length, size_t skip);

  std::string FData;    // FData[FPos..] are the held bytes; the front is compacted on Append
  size_t FPos = 0;      // first byte not yet handed out
  size_t FScanned = 0;  // held bytes (from FPos) known to contain no line end / terminator start
  bool FPendingLF = false;
};
