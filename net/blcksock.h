// TUDPBlockSocket: a blocking IPv4 datagram socket with text addresses, an internal buffer of
// received-but-unread bytes for line reading, and Winsock-numbered error codes. Nothing throws:
// every operation leaves its outcome in LastError / LastErrorDesc.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include <qx/framework/core/System.h>
#include <qx/net/RecvBuffer.h>
#include <qx/net/WinsockErrors.h>

// Outcome rules:
// - LastError is 0 and LastErrorDesc empty after a successful operation; after a failure they hold
//   the Winsock-numbered code (see WinsockErrors.h) and its text.
// - The option setters (SetTimeout, SetMulticastTTL, EnableBroadcast) leave LastError untouched
//   when they succeed, so that a failed Bind stays visible after the options that follow it.
//   Options set before CreateSocket are kept and applied when the socket is created.
// - Bind and Connect create the socket first when there is none.
// - Creating the socket fails, and no socket is opened, when the object could not get its wake-up
//   descriptor (an eventfd, made with the object): LastError is the errno's code (WSAEMFILE,
//   10024, when the process or system is out of descriptors; WSAENOBUFS, 10055, when out of
//   memory) and LastErrorDesc says that the wake-up descriptor could not be created.
//
// Reading:
// - Every read waits at most its `Timeout` milliseconds in total (0 or less: no waiting). A read
//   that runs out of time returns empty with WSAETIMEDOUT (10060).
// - Bytes received but not yet returned are held by the object. RecvPacket returns all held bytes
//   if there are any, else the next datagram whole (up to 65,507 bytes).
// - RecvString / RecvTerminated return the next piece without its end; bytes after it stay held.
//   A piece that is still incomplete when the read fails or runs out of time is DROPPED together
//   with every held byte, so HeldBytes() is 0 afterwards and CanReadEx only reports new data. This
//   bounds a caller that gathers `while (CanReadEx(short))`: an unterminated remainder never keeps
//   it reading. Held bytes beyond MaxHeldBytes without an end are dropped the same way, with
//   WSAEMSGSIZE (10040).
// - Reading a datagram makes its sender the destination of the next SendString and the address
//   reported by GetRemoteSinIP / GetRemoteSinPort.
//
// Threads: an object is used by one thread at a time; only WakeUp may be called from any thread
// while another uses the object (not while it is being moved or destroyed).
class TUDPBlockSocket {
 public:
  static constexpr size_t MaxDatagram = 65507;     // IPv4 UDP payload limit
  static constexpr size_t MaxHeldBytes = 1 << 20;  // longest incomplete line kept

  TUDPBlockSocket();
  ~TUDPBlockSocket();
  TUDPBlockSocket(TUDPBlockSocket&& other) noexcept;
  TUDPBlockSocket& operator=(TUDPBlockSocket&& other) noexcept;
  TUDPBlockSocket(const TUDPBlockSocket&) = delete;
  TUDPBlockSocket& operator=(const TUDPBlockSocket&) = delete;

  // With RecvString: true accepts CR, LF or CR LF as a line end (a CR LF split across two
  // datagrams counts once); false accepts only CR LF.
  bool ConvertLineEnd = false;

  // Creates the datagram socket; keeps the existing one if there is one.
  void CreateSocket();
  // Closes the socket and drops held bytes. Options and the destination are kept.
  void CloseSocket();

  // Binds the local address ("" or "0.0.0.0": any) and port (decimal or service name; "0" or "":
  // a free port the system chooses).
  void Bind(const String& IP, const String& Port);
  // Sets the destination of later sends, resolving host and service names. Nothing is connected:
  // the socket keeps receiving from every sender. Like Winsock, refuses the any-address and port 0
  // as a destination (WSAEADDRNOTAVAIL).
  void Connect(const String& IP, const String& Port);

  // Send and receive time-out of the socket's blocking calls, in milliseconds (0: none).
  void SetTimeout(int Timeout);
  void SetMulticastTTL(int TTL);
  void EnableBroadcast(bool Value);

  // Sends Data as one datagram to the current destination.
  void SendString(const RawByteString& Data);

  RawByteString RecvPacket(int Timeout);
  RawByteString RecvString(int Timeout);
  RawByteString RecvTerminated(int Timeout, const RawByteString& Terminator);

  // True when a datagram is ready within Timeout ms. A WakeUp ends the wait early with false (it
  // is consumed then); a ready datagram wins over a pending wake-up, which then stays pending.
  // With ConvertLineEnd, right after a line that ended in a datagram's last byte CR, a datagram
  // that is only the matching LF is read and consumed here and does not count as data.
  bool CanRead(int Timeout);
  // True at once while held bytes remain, else as CanRead.
  bool CanReadEx(int Timeout);
  // Ends the current or next CanRead / CanReadEx wait early. Any thread; cheap; never blocks.
  // The Recv* reads do not look at it: a read in progress runs to its data or its time-out.
  void WakeUp();
  // For a socket that is being given up: ends every current and later wait at once, reads
  // included (they fail with WSAEINTR, 10004, dropping an unfinished line). Any thread.
  void Abort();
  bool Aborted() const { return FAborted; }

  // Receives the next datagram without touching the held bytes: at once when one is queued (no
  // wait), else waiting at most Timeout ms, like the reads. Data views the object's buffer and
  // stays valid until the next read. Makes the sender the destination of the next send.
  bool ReceiveNext(int Timeout, std::string_view& Data);
  // The sender of the datagram read last (or the destination set by Connect or SetRemoteSin).
  const sockaddr_in& RemoteSin() const { return FRemoteSin; }
  // Makes Sin the destination of the next SendString.
  void SetRemoteSin(const sockaddr_in& Sin);
  // Asks the kernel for a receive buffer of Bytes; returns what it granted (0 without a socket).
  int SetRecvBufferSize(int Bytes);
  // Kernel memory that datagrams waiting on the socket take, their bookkeeping included; 0
  // without a socket. While a backlog is being read it may count up to a quarter of the buffer
  // too much: the kernel returns the memory of datagrams already read in lumps.
  int64_t WaitingBytes() const;

  size_t HeldBytes() const { return FHeld.Size(); }
  // Drops the held bytes (an incomplete line, for instance).
  void ResetLineBuffer();

  // Sender of the datagram read last, or the destination set by Connect, whichever came later;
  // "0.0.0.0" and 0 before either.
  String GetRemoteSinIP() const;
  int GetRemoteSinPort() const;
  // The bound local address and port (after Bind or the first send).
  String GetLocalSinIP() const;
  int GetLocalSinPort() const;

  int LastError() const { return FLastError; }
  String LastErrorDesc() const;
  // The errno LastError was made from, 0 when it came from no system call (a time-out, a name
  // look-up, a check of the socket's own): its strerror text says it in the system's words.
  int LastErrno() const { return FLastErrno; }

  // The local host's name. Opens no socket.
  String LocalName();

  // The descriptor, -1 when no socket is open.
  int Socket() const { return FSocket; }

 private:
  template <class TakePiece>
  RawByteString RecvPiece(int Timeout, TakePiece take);
  // Waits until Deadline for one datagram and receives it into FRecvBuf; returns its length or
  // -1 with LastError set.
  ssize_t ReceiveDatagram(int64_t DeadlineMs);
  bool EnsureSocket();
  void ApplyOptions();
  void SetOK() { Fail(0); }
  void Fail(int code, int err = 0) {
    FLastError = code;
    FLastErrno = err;
    FWakeFdFailed = false;
  }
  void FailErrno(int err);
  void Release() noexcept;

  int FSocket = -1;
  int FWakeFd = -1;
  int FWakeFdErrno = 0;  // why the object has no FWakeFd
  std::atomic<bool> FAborted{false};
  int FLastError = 0;
  int FLastErrno = 0;
  bool FWakeFdFailed = false;  // LastError is about FWakeFd
  int FTimeout = -1;           // -1: not set, system default
  int FTTL = -1;               // -1: not set
  int FBroadcast = -1;         // -1: not set, else 0/1
  sockaddr_in FRemoteSin{};
  bool FHasRemote = false;
  TRecvBuffer FHeld;
  std::unique_ptr<char[]> FRecvBuf;  // 65,536 bytes, allocated on the first read, then reused
};
