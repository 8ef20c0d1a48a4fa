#include <qx/net/RecvBuffer.h>

#include <cstring>

void TRecvBuffer::Append(const char* data, size_t size) {
  if (size == 0) return;
  if (FPendingLF) {
    FPendingLF = false;
    if (data[0] == '\n') {
      ++data;
      --size;
      if (size == 0) return;
    }
  }
  if (FPos > 0) {
    // Compact only here, so taking many lines from one datagram never moves the rest.
    FData.erase(0, FPos);
    FPos = 0;
  }
  FData.append(data, size);
}

// The storage stays as it is until the next Append compacts it, so what was taken can be viewed.
std::string_view TRecvBuffer::TakeFront(size_t length, size_t skip) {
  std::string_view out(FData.data() + FPos, length);
  FPos += length + skip;
  FScanned = 0;
  return out;
}

bool TRecvBuffer::TakeTerminated(std::string_view terminator, RawByteString& out) {
  std::string_view piece;
  if (!TakeTerminated(terminator, piece)) return false;
  out = RawByteString::FromBytes(piece);
  return true;
}

bool TRecvBuffer::TakeLine(RawByteString& out) {
  std::string_view piece;
  if (!TakeLine(piece)) return false;
  out = RawByteString::FromBytes(piece);
  return true;
}

RawByteString TRecvBuffer::TakeAll() {
  return RawByteString::FromBytes(TakeAllView());
}

void TRecvBuffer::KeepTail(size_t keep) {
  if (Size() > keep) {
    FPos = FData.size() - keep;
    FScanned = 0;
  }
}

bool TRecvBuffer::TakeTerminated(std::string_view terminator, std::string_view& out) {
  if (terminator.empty()) return false;
  const std::string_view held = View();
  const size_t found = held.find(terminator, FScanned);
  if (found == std::string_view::npos) {
    // A terminator may still start in the last (length - 1) bytes and complete later.
    const size_t tail = terminator.size() - 1;
    FScanned = held.size() > tail ? held.size() - tail : 0;
    return false;
  }
  out = TakeFront(found, terminator.size());
  return true;
}

bool TRecvBuffer::TakeLine(std::string_view& out) {
  const std::string_view held = View();
  // Two vectorised scans rather than find_first_of, which tests byte by byte: a flood of long
  // unfinished lines is searched at memory speed.
  size_t found = std::string_view::npos;
  if (FScanned < held.size()) {
    const char* from = held.data() + FScanned;
    const size_t rest = held.size() - FScanned;
    const void* lf = std::memchr(from, '\n', rest);
    const size_t crSpan = lf ? static_cast<const char*>(lf) - from : rest;
    const void* cr = std::memchr(from, '\r', crSpan);
    const char* at = cr ? static_cast<const char*>(cr) : static_cast<const char*>(lf);
    if (at) found = static_cast<size_t>(at - held.data());
  }
  if (found == std::string_view::npos) {
    FScanned = held.size();
    return false;
  }
  size_t skip = 1;
  if (held[found] == '\r') {
    if (found + 1 < held.size()) {
      if (held[found + 1] == '\n') skip = 2;
    } else {
      FPendingLF = true;
    }
  }
  out = TakeFront(found, skip);
  return true;
}

std::string_view TRecvBuffer::TakeAllView() {
  return TakeFront(Size(), 0);
}

void TRecvBuffer::Clear() {
  FData.clear();
  FPos = 0;
  FScanned = 0;
  FPendingLF = false;
}
