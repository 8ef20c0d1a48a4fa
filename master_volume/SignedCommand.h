// Signed command lines: a remote proves that it holds a shared key, not only that it writes a
// given source address. A line is COMMAND;n=COUNTER;h=TAG, where TAG is the first 16 bytes of
// HMAC-SHA256(KEY, "qxv1|" + COMMAND + ";n=" + COUNTER) as 32 hexadecimal digits and COUNTER
// (1 to 2^63-1) grows with every line one key signs, so that a line captured and sent again is
// refused. An answer is signed alike over its own text with its question's counter. The key is
// 32 bytes, kept as 64 hexadecimal digits on one line of a file only its owner may read.
// Everything cryptographic is OpenSSL's libcrypto.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

using TQxCommandKey = std::array<uint8_t, 32>;

// The parts of a signed line, pointing into it.
struct TSignedLine {
  std::string_view Command;
  std::string_view CounterText;  // the digits as they came: the tag covers them
  uint64_t Counter = 0;
  std::string_view Tag;  // 32 hexadecimal digits, either case
};

// Cuts a line into its parts; false when it is no well-formed signed line (no suffix, the
// suffix in the wrong order, a counter that is not 1 to 2^63-1 in plain decimal digits, a tag
// that is not 32 hexadecimal digits).
bool ParseSignedLine(std::string_view line, TSignedLine& out);

// HMAC-SHA256 under one key, set up once: each tag costs one pass over the message. One object
// per thread.
class TCommandMac {
 public:
  explicit TCommandMac(const TQxCommandKey& key);
  ~TCommandMac();
  TCommandMac(const TCommandMac&) = delete;
  TCommandMac& operator=(const TCommandMac&) = delete;

  // The 32 lower-case hexadecimal digits for COMMAND;n=COUNTER.
  std::string Tag(std::string_view command, std::string_view counterText);
  // Whether the line's tag is the one its command and counter make, compared in constant time.
  bool Verify(const TSignedLine& line);
  // COMMAND;n=COUNTER;h=TAG.
  std::string Sign(std::string_view command, uint64_t counter);
  // The full 32-byte MAC of a message (no prefix): names derived from the key.
  std::array<uint8_t, 32> Mac(std::string_view message);

 private:
  struct TState;
  std::unique_ptr<TState> F;
};

// Reads a key file: one line of 64 hexadecimal digits (blanks and line ends around it are
// allowed). Refused, with one line of text in `error`: a file group or others may read or write
// (as ssh refuses an unprotected private key), anything but a regular file, an empty file, a
// wrong length, a character that is not a hexadecimal digit.
bool ReadKeyFile(const std::string& path, TQxCommandKey& key, std::string& error);
// The same rules on the text alone.
bool ParseKeyText(std::string_view text, TQxCommandKey& key, std::string& error);
// Writes a fresh key from the system's random source into a new file of mode 0600; never over
// an existing file.
bool WriteNewKeyFile(const std::string& path, std::string& error);

// Overwrites a secret in memory in a way the compiler does not leave out.
void Cleanse(void* data, size_t size);

// Where the last accepted counter of a key is kept when no file is named:
// $XDG_STATE_HOME/qx/counters/<key id> ($HOME/.local/state when XDG_STATE_HOME is unset), the id
// being derived from the key without revealing it, so that each key keeps its own.
std::string DefaultCounterFile(const TQxCommandKey& key);

class TCounterStore;

// What a component obeying signed lines keeps: the key, the last counter accepted and the file
// that keeps it across restarts. Main thread, but for LastCounter, which other threads may read.
// Components of one process that name the same file share its counter (a form read again while
// the old one still runs cannot fall behind it). The file is written by a thread of its own, the
// latest counter each time, so that the caller never waits on the disk (a rename on ext4 waits
// for the new file's data); the latest counter is written before the last user is gone.
class TSignedCommands {
 public:
  // counterFile empty: DefaultCounterFile(key).
  TSignedCommands(const TQxCommandKey& key, const std::string& counterFile);
  ~TSignedCommands();

  // Checks a line and, when it is signed by the key with a counter above every one accepted,
  // accepts it: the counter is kept (and written to the file) and the command is given. False
  // for every other line.
  bool Accept(std::string_view line, std::string_view& command, uint64_t& counter);
  // The same check without accepting.
  bool Check(std::string_view line, std::string_view& command);
  // An answer's text signed with its question's counter.
  std::string SignAnswer(std::string_view answer, uint64_t counter) {
    return FMac.Sign(answer, counter);
  }
  const std::shared_ptr<std::atomic<uint64_t>>& LastCounter() const;
  const TQxCommandKey& Key() const { return FKey; }
  // A problem with the counter file not yet said (empty: none); taking it clears it. A failing
  // file is said once, until it has been written again.
  std::string TakeProblem();

 private:
  bool Fresh(std::string_view line, TSignedLine& s);

  TQxCommandKey FKey;
  TCommandMac FMac;
  std::shared_ptr<TCounterStore> FStore;
};
